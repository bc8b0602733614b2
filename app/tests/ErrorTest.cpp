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
  std::unique_ptr<MainWindow> fWindow;

  void Open(std::size_t templates = 0) {
    if (templates > 0) fData->KeepTemplates(templates);
    fWindow = MakeWindow(fServices, *fData);
    ShowWindow(*fWindow);
    const QSignalBlocker quietWidth(Ui(*fWindow).outputWidth);
    const QSignalBlocker quietHeight(Ui(*fWindow).outputHeight);
    Ui(*fWindow).outputWidth->setValue(160);
    Ui(*fWindow).outputHeight->setValue(120);
  }

private slots:
  void init() {
    fServices = TTestServices{};
    fData = std::make_unique<TDataFolder>();
  }
  void cleanup() {
    QCOMPARE(fServices.BusyDepth, 0);
    fWindow.reset();
    fData.reset();
  }

  void aTemplateNumberBeyondTheListIsReportedAndTheWindowStaysUsable() {
    // A template that leaves the folder while the window is open is reported.
    Open(2);
    fData->KeepTemplates(1);
    MainWindow& w = *fWindow;
    const QString caption = Ui(w).templateName->text();
    const QPixmap preview = Ui(w).templatePreview->pixmap();
    QTest::mouseClick(Ui(*fWindow).templateArrows->NextButton(), Qt::LeftButton);
    QCOMPARE(fWindow->State().Template, 2);
    QCOMPARE(fServices.Errors, QStringList{QStringLiteral("List index out of bounds (1)")});
    QCOMPARE(fServices.ErrorTitles, QStringList{QStringLiteral("maker")});
    QCOMPARE(Ui(w).templateName->text(), caption);
    QCOMPARE(Ui(w).templatePreview->pixmap().cacheKey(), preview.cacheKey());

    // The next render fails the same way, the pointer comes back, and nothing was rendered.
    QTest::mouseClick(Ui(w).apply, Qt::LeftButton);
    Settle(w);
    QCOMPARE(fServices.Errors.size(), 2);
    QCOMPARE(fServices.Errors.last(), QStringLiteral("List index out of bounds (1)"));
    QCOMPARE(fServices.BusyDepth, 0);

    // Back to a template that exists: everything works again.
    QTest::mouseClick(Ui(w).templateArrows->PrevButton(), Qt::LeftButton);
    QCOMPARE(fWindow->State().Template, 1);
    QTest::mouseClick(Ui(w).apply, Qt::LeftButton);
    Settle(w);
    QCOMPARE(fServices.Errors.size(), 2);
    QCOMPARE(w.View().Bitmap().Width(), 160);
    QVERIFY(!w.LayerKinds().empty());

    // The arrows count the templates in the folder and stop at the last one.
    fWindow.reset();
    fServices = TTestServices{};
    Open();
    Ui(*fWindow).templateArrows->SetPosition(Ui(*fWindow).templateArrows->Max());
    QCOMPARE(Ui(*fWindow).templateArrows->Max(), static_cast<int>(fData->Templates().size()));
    QTest::mouseClick(Ui(*fWindow).templateArrows->NextButton(), Qt::LeftButton);
    QCOMPARE(fWindow->State().Template, static_cast<int>(fData->Templates().size()));
    QVERIFY(fServices.Errors.isEmpty());
  }

  void aMissingPreviewLeavesTheOldPreviewAndCaption() {
    const std::vector<std::string> templates = fData->Templates();
    if (templates.size() < 2) QSKIP("needs two templates");
    fData->Remove("Pics/" + templates[1].substr(0, templates[1].size() - 4) + ".jpg");
    Open();
    MainWindow& w = *fWindow;
    const QString caption = Ui(w).templateName->text();
    QTest::mouseClick(Ui(w).templateArrows->NextButton(), Qt::LeftButton);
    QCOMPARE(fWindow->State().Template, 2);
    QCOMPARE(fServices.Errors.size(), 1);
    QVERIFY(fServices.Errors[0].startsWith(QStringLiteral("Cannot open file \"")));
    QVERIFY(fServices.Errors[0].endsWith(QLatin1Char('.')));
    QCOMPARE(Ui(w).templateName->text(), caption);
  }

  void aBrokenPictureIsReportedAndTheSlotKeepsWhatItHad() {
    Open();
    MainWindow& w = *fWindow;
    QTest::mouseClick(Ui(w).sourceArrows->NextButton(), Qt::LeftButton);  // FRONT

    // A colour slot stays a colour slot and keeps no file name.
    const std::string broken = BrokenPicture(*fData);
    fServices.OpenAnswers.push_back(broken);
    QTest::mouseClick(Ui(w).sourcePicture, Qt::LeftButton);
    QCOMPARE(fServices.Errors.size(), 1);
    QVERIFY(fWindow->State().Sources[2 - 1].UsesColour());
    QCOMPARE(fWindow->State().SlotFiles[2 - 1], std::string());
    QVERIFY(Ui(w).sourcePicture->Empty());
    QCOMPARE(w.RenderCount(), 0);

    // A picture slot keeps its picture, its thumbnail, and renders as before.
    fServices.OpenAnswers.push_back(GoodPicture());
    QTest::mouseClick(Ui(w).sourcePicture, Qt::LeftButton);
    QCOMPARE(w.RenderCount(), 1);
    const qint64 thumbnail = Ui(w).sourcePicture->pixmap().cacheKey();
    fServices.OpenAnswers.push_back(broken);
    QTest::mouseClick(Ui(w).sourcePicture, Qt::LeftButton);
    QCOMPARE(fServices.Errors.size(), 2);
    QCOMPARE(fWindow->State().SlotFiles[2 - 1], GoodPicture());
    QVERIFY(!fWindow->State().Sources[2 - 1].UsesColour());
    QCOMPARE(Ui(w).sourcePicture->pixmap().cacheKey(), thumbnail);
    QCOMPARE(w.RenderCount(), 1);
    QTest::mouseClick(Ui(w).apply, Qt::LeftButton);
    QCOMPARE(fServices.Errors.size(), 2);

    // A name the registry does not know is refused the same way.
    fData->Write("notes.txt", "hello");
    fServices.OpenAnswers.push_back(fData->File("notes.txt"));
    QTest::mouseClick(Ui(w).sourcePicture, Qt::LeftButton);
    QCOMPARE(fServices.Errors.last(),
             QStringLiteral("Picture \"%1\": Unknown picture file extension (.txt)").arg(QString::fromStdString(fData->File("notes.txt"))));
    QCOMPARE(fWindow->State().SlotFiles[2 - 1], GoodPicture());

    // A cancelled dialog changes nothing.
    QTest::mouseClick(Ui(w).sourcePicture, Qt::LeftButton);
    QCOMPARE(fWindow->State().SlotFiles[2 - 1], GoodPicture());
    QCOMPARE(fServices.Errors.size(), 3);
  }

  void aSlotWhoseFileVanishedReportsWhenShown() {
    Open();
    MainWindow& w = *fWindow;
    fData->Write("gone.png", "");
    std::filesystem::copy_file(GoodPicture(), fData->File("gone.png"), std::filesystem::copy_options::overwrite_existing);
    QTest::mouseClick(Ui(w).sourceArrows->NextButton(), Qt::LeftButton);
    fServices.OpenAnswers.push_back(fData->File("gone.png"));
    QTest::mouseClick(Ui(w).sourcePicture, Qt::LeftButton);
    QCOMPARE(fServices.Errors.size(), 0);
    fData->Remove("gone.png");
    QTest::mouseClick(Ui(w).sourceArrows->NextButton(), Qt::LeftButton);  // SIDE
    QTest::mouseClick(Ui(w).sourceArrows->PrevButton(), Qt::LeftButton);  // FRONT again
    QCOMPARE(fServices.Errors.size(), 1);
    QVERIFY(fServices.Errors[0].startsWith(QStringLiteral("Cannot open file \"")));
    QCOMPARE(Ui(w).sourceName->text(), QStringLiteral("FRONT"));
    // The error came before the colour button was updated: it still shows SIDE's colour.
    QCOMPARE(Ui(w).sourceColour->Color(), raster::TColor(0x808000));
    // Every render now reports the missing file, and the pointer always comes back.
    QTest::mouseClick(Ui(w).apply, Qt::LeftButton);
    Settle(w);
    QCOMPARE(fServices.Errors.size(), 2);
    QVERIFY(fServices.Errors[1].startsWith(QStringLiteral("Cannot open file \"")));
  }

  void anUnknownResamplerNameIsNamedWithTheOnesThereAre() {
    Open(1);
    MainWindow& w = *fWindow;
    QTest::mouseClick(Ui(w).apply, Qt::LeftButton);  // layers for the choice to reach
    QVERIFY(fServices.Errors.isEmpty());
    Ui(w).resamplerList->addItem(QStringLiteral("TNoSuchResampler"));
    Ui(w).resamplerList->setCurrentIndex(Ui(w).resamplerList->count() - 1);
    QCOMPARE(fServices.Errors, QStringList{QStringLiteral("Unknown resampler \"TNoSuchResampler\"; the resamplers are "
                                                          "TNearestResampler, TLinearResampler, TDraftResampler, "
                                                          "TKernelResampler.")});
  }
};

QUIRLON_APP_TEST(AppErrorTest);

}  // namespace quirlon::app::test

#include "ErrorTest.moc"
