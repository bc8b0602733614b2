// Errors inside handlers: reported with the standard error report, the window stays usable, and
// what the handler stored before the error stays.
#include <filesystem>

#include <QTest>

#include "AppTestSupport.h"
#include "core/RenderSettings.h"

namespace quirlon::app::test {

class AppErrorTest : public QObject {
  Q_OBJECT
  std::unique_ptr<TDataFolder> fData;
  TTestServices fServices;
  std::unique_ptr<TForm1> fWindow;

  void Open(std::size_t templates = 0) {
    if (templates > 0) fData->KeepTemplates(templates);
    fWindow = MakeWindow(fServices, *fData);
    ShowWindow(*fWindow);
    const QSignalBlocker quietWidth(fWindow->WidthSpinEdit);
    const QSignalBlocker quietHeight(fWindow->HeightSpinEdit);
    fWindow->WidthSpinEdit->setValue(160);
    fWindow->HeightSpinEdit->setValue(120);
  }

private slots:
  void init() {
    ResetSettings();
    fServices = TTestServices{};
    fData = std::make_unique<TDataFolder>();
  }
  void cleanup() {
    QCOMPARE(fServices.BusyDepth, 0);
    fWindow.reset();
    fData.reset();
  }

  void aTemplateNumberBeyondTheListIsReportedAndTheWindowStaysUsable() {
    Open(1);
    TForm1& w = *fWindow;
    const QString caption = w.TemplateCaption->text();
    const QPixmap preview = w.TemplateImage->pixmap();
    QTest::mouseClick(w.TemplateUpDown->NextButton(), Qt::LeftButton);
    QCOMPARE(core::RenderSettings.CurrentTemplate, 2);
    QCOMPARE(fServices.Errors, QStringList{QStringLiteral("List index out of bounds (1)")});
    QCOMPARE(fServices.ErrorTitles, QStringList{QStringLiteral("maker")});
    QCOMPARE(w.TemplateCaption->text(), caption);
    QCOMPARE(w.TemplateImage->pixmap().cacheKey(), preview.cacheKey());

    // The next render fails the same way, the pointer comes back, and nothing was rendered.
    QTest::mouseClick(w.ApplyTempButton, Qt::LeftButton);
    QCOMPARE(fServices.Errors.size(), 2);
    QCOMPARE(fServices.Errors.last(), QStringLiteral("List index out of bounds (1)"));
    QCOMPARE(fServices.BusyPushes, 1);
    QCOMPARE(fServices.BusyDepth, 0);

    // Back to a template that exists: everything works again.
    QTest::mouseClick(w.TemplateUpDown->PrevButton(), Qt::LeftButton);
    QCOMPARE(core::RenderSettings.CurrentTemplate, 1);
    QTest::mouseClick(w.ApplyTempButton, Qt::LeftButton);
    QCOMPARE(fServices.Errors.size(), 2);
    QCOMPARE(w.View().Bitmap().Width(), 160);
    QVERIFY(!w.LayerKinds().empty());
  }

  void aMissingPreviewLeavesTheOldPreviewAndCaption() {
    const std::vector<std::string> templates = fData->Templates();
    if (templates.size() < 2) QSKIP("needs two templates");
    fData->Remove("Pics/" + templates[1].substr(0, templates[1].size() - 4) + ".jpg");
    Open();
    TForm1& w = *fWindow;
    const QString caption = w.TemplateCaption->text();
    QTest::mouseClick(w.TemplateUpDown->NextButton(), Qt::LeftButton);
    QCOMPARE(core::RenderSettings.CurrentTemplate, 2);
    QCOMPARE(fServices.Errors.size(), 1);
    QVERIFY(fServices.Errors[0].startsWith(QStringLiteral("Cannot open file \"")));
    QVERIFY(fServices.Errors[0].endsWith(QLatin1Char('.')));
    QCOMPARE(w.TemplateCaption->text(), caption);
  }

  void aBrokenPictureIsReportedAndTheSlotKeepsWhatItHad() {
    Open();
    TForm1& w = *fWindow;
    QTest::mouseClick(w.LayerSourceUpDown->NextButton(), Qt::LeftButton);  // FRONT

    // A colour slot stays a colour slot and keeps no file name.
    const std::string broken = BrokenPicture(*fData);
    fServices.OpenAnswers.push_back(broken);
    QTest::mouseClick(w.LayerSourceImg, Qt::LeftButton);
    QCOMPARE(fServices.Errors.size(), 1);
    QVERIFY(core::RenderSettings.SlotUsesColor[2]);
    QCOMPARE(core::SourceFiles[2], std::string());
    QVERIFY(w.LayerSourceImg->Empty());
    QCOMPARE(w.RenderCount(), 0);

    // A picture slot keeps its picture, its thumbnail, and renders as before.
    fServices.OpenAnswers.push_back(GoodPicture());
    QTest::mouseClick(w.LayerSourceImg, Qt::LeftButton);
    QCOMPARE(w.RenderCount(), 1);
    const qint64 thumbnail = w.LayerSourceImg->pixmap().cacheKey();
    fServices.OpenAnswers.push_back(broken);
    QTest::mouseClick(w.LayerSourceImg, Qt::LeftButton);
    QCOMPARE(fServices.Errors.size(), 2);
    QCOMPARE(core::SourceFiles[2], GoodPicture());
    QVERIFY(!core::RenderSettings.SlotUsesColor[2]);
    QCOMPARE(w.LayerSourceImg->pixmap().cacheKey(), thumbnail);
    QCOMPARE(w.RenderCount(), 1);
    QTest::mouseClick(w.ApplyTempButton, Qt::LeftButton);
    QCOMPARE(fServices.Errors.size(), 2);

    // A name the registry does not know is refused the same way.
    fData->Write("notes.txt", "hello");
    fServices.OpenAnswers.push_back(fData->File("notes.txt"));
    QTest::mouseClick(w.LayerSourceImg, Qt::LeftButton);
    QCOMPARE(fServices.Errors.last(),
             QStringLiteral("Picture \"%1\": Unknown picture file extension (.txt)").arg(QString::fromStdString(fData->File("notes.txt"))));
    QCOMPARE(core::SourceFiles[2], GoodPicture());

    // A cancelled dialog changes nothing.
    QTest::mouseClick(w.LayerSourceImg, Qt::LeftButton);
    QCOMPARE(core::SourceFiles[2], GoodPicture());
    QCOMPARE(fServices.Errors.size(), 3);
  }

  void aSlotWhoseFileVanishedReportsWhenShown() {
    Open();
    TForm1& w = *fWindow;
    fData->Write("gone.png", "");
    std::filesystem::copy_file(GoodPicture(), fData->File("gone.png"), std::filesystem::copy_options::overwrite_existing);
    QTest::mouseClick(w.LayerSourceUpDown->NextButton(), Qt::LeftButton);
    fServices.OpenAnswers.push_back(fData->File("gone.png"));
    QTest::mouseClick(w.LayerSourceImg, Qt::LeftButton);
    QCOMPARE(fServices.Errors.size(), 0);
    fData->Remove("gone.png");
    QTest::mouseClick(w.LayerSourceUpDown->NextButton(), Qt::LeftButton);  // SIDE
    QTest::mouseClick(w.LayerSourceUpDown->PrevButton(), Qt::LeftButton);  // FRONT again
    QCOMPARE(fServices.Errors.size(), 1);
    QVERIFY(fServices.Errors[0].startsWith(QStringLiteral("Cannot open file \"")));
    QCOMPARE(w.LayerSourceCaption->text(), QStringLiteral("FRONT"));
    // The error came before the colour button was updated: it still shows SIDE's colour.
    QCOMPARE(w.LayerSourceColorSelect->Color(), raster::TColor(0x808000));
    // Every render now reports the missing file, and the pointer always comes back.
    QTest::mouseClick(w.ApplyTempButton, Qt::LeftButton);
    QCOMPARE(fServices.Errors.size(), 2);
    QVERIFY(fServices.Errors[1].startsWith(QStringLiteral("Cannot open file \"")));
  }

  void anUnknownResamplerNameIsNamedWithTheOnesThereAre() {
    Open(1);
    TForm1& w = *fWindow;
    QTest::mouseClick(w.ApplyTempButton, Qt::LeftButton);  // layers for the choice to reach
    QVERIFY(fServices.Errors.isEmpty());
    w.ResamplerClassNamesList->addItem(QStringLiteral("TNoSuchResampler"));
    w.ResamplerClassNamesList->setCurrentIndex(w.ResamplerClassNamesList->count() - 1);
    QCOMPARE(fServices.Errors, QStringList{QStringLiteral("Unknown resampler \"TNoSuchResampler\"; the resamplers are "
                                                          "TNearestResampler, TLinearResampler, TDraftResampler, "
                                                          "TKernelResampler.")});
  }
};

QUIRLON_APP_TEST(AppErrorTest);

}  // namespace quirlon::app::test

#include "ErrorTest.moc"
