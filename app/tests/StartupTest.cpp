// Start-up: the title, the look and its data file, the errors of the creation handlers, closing,
// and the about box.
#include <QApplication>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include "AppTestSupport.h"
#include "app/Skin.h"
#include "app/AboutDialog.h"
#include "core/RenderSettings.h"

namespace quirlon::app::test {

class AppStartupTest : public QObject {
  Q_OBJECT
  std::unique_ptr<TDataFolder> fData;
  TTestServices fServices;

private slots:
  void init() {
    fServices = TTestServices{};
    fData = std::make_unique<TDataFolder>();
    SetApplicationTitle(QStringLiteral("Quirlon 1.0"));
  }
  void cleanup() { fData.reset(); }

  void titleFromTheExecutable() {
    QCOMPARE(TitleFromExecutable("/opt/q/maker.exe"), QStringLiteral("maker"));
    QCOMPARE(TitleFromExecutable("C/box shot.exe"), QStringLiteral("box shot"));
    QCOMPARE(TitleFromExecutable("/usr/lib/quirlon/quirlon"), QStringLiteral("quirlon"));
    QCOMPARE(TitleFromExecutable("a.b/c"), QStringLiteral("c"));
    QCOMPARE(TitleFromExecutable(".exe"), QString());

    auto w = MakeWindow(fServices, *fData, "/somewhere/box shot.exe");
    QCOMPARE(w->windowTitle(), QStringLiteral("box shot"));
    QCOMPARE(ApplicationTitle(), QStringLiteral("box shot"));
    QVERIFY(fServices.Errors.isEmpty());
  }

  void theLookIsOnFromCreationUntilClose() {
    fData->Write("Data/SkinName.dat", "Midnight Dark\nsecond line\n");
    const QPalette plain = QApplication::palette();
    auto w = MakeWindow(fServices, *fData);
    QVERIFY(fServices.Errors.isEmpty());
    QVERIFY(w->SkinManager().Active());
    QCOMPARE(w->SkinManager().SkinName, std::string("Midnight Dark"));
    QCOMPARE(w->SkinManager().SkinDirectory, fData->Path() + "Data");
    QCOMPARE(QApplication::style()->name().toLower(), QStringLiteral("fusion"));
    QCOMPARE(QApplication::palette().color(QPalette::Window), SkinPalette("Midnight Dark").color(QPalette::Window));
    QVERIFY(SkinPalette("Midnight Dark").color(QPalette::Window).lightness() < 128);
    ShowWindow(*w);
    w->close();
    QVERIFY(!w->SkinManager().Active());
    QVERIFY(Ui(*w).preview->isHidden());
    QCOMPARE(QApplication::palette().color(QPalette::Window), plain.color(QPalette::Window));
  }

  void aMissingOrEmptySkinFileIsReportedAndTheLookStaysOff() {
    fData->Remove("Data/SkinName.dat");
    {
      auto w = MakeWindow(fServices, *fData);
      QCOMPARE(fServices.Errors.size(), 1);
      const QString expected = QStringLiteral("Cannot open file \"%1\". ").arg(QString::fromStdString(fData->File("Data/SkinName.dat")));
      QVERIFY2(fServices.Errors[0].startsWith(expected), qPrintable(fServices.Errors[0]));
      QVERIFY(!w->SkinManager().Active());
      QCOMPARE(w->SkinManager().SkinDirectory, std::string());
      QCOMPARE(w->windowTitle(), QStringLiteral("maker"));  // the title step came first
    }
    fData->Write("Data/SkinName.dat", "");
    auto w = MakeWindow(fServices, *fData);
    QCOMPARE(fServices.Errors.size(), 2);
    // The file and what is wrong with it (the report adds the final full stop).
    QCOMPARE(fServices.Errors[1], QStringLiteral("Skin file \"%1\" is empty: its first line must name the skin.")
                                      .arg(QString::fromStdString(fData->File("Data/SkinName.dat"))));
    QCOMPARE(w->SkinManager().SkinDirectory, fData->Path() + "Data");
    QVERIFY(!w->SkinManager().Active());
  }

  void aMissingTemplateFolderKeepsTheFirstTitleAndTheLookOff() {
    fData->Remove("Templates");
    auto w = MakeWindow(fServices, *fData);
    QCOMPARE(fServices.Errors, QStringList{QStringLiteral("List index out of bounds (0)")});
    QCOMPARE(fServices.ErrorTitles, QStringList{QStringLiteral("Quirlon 1.0")});
    QCOMPARE(w->windowTitle(), QStringLiteral("Quirlon 1.0"));
    QVERIFY(!w->SkinManager().Active());
    // Still usable: the hidden lists and the preview were set up before the failing step.
    QCOMPARE(Ui(*w).resamplerList->currentIndex(), 1);
    const view::TPaintStages& stages = w->View().PaintStages();
    QCOMPARE(stages.StageAt(0).Stage, view::StageCustom);
    QCOMPARE(stages.StageAt(0).Parameter, 1u);
    QCOMPARE(stages.StageAt(stages.Count() - 1).Stage, view::StageCustom);
    QCOMPARE(stages.StageAt(stages.Count() - 1).Parameter, 2u);
  }

  void theAboutBoxReadsItsFilesAndOpensTheLink() {
    fData->Write("Data/About.dat", "first line\r\nsecond line\r\n");
    fData->Write("Data/LinkAdr.dat", "https://example.org/one\nhttps://example.org/two\n");
    AboutDialog about(fServices, fData->Path());
    QVERIFY(fServices.Errors.isEmpty());
    QCOMPARE(about.size(), QSize(309, 226));
    QCOMPARE(about.windowTitle(), QString());
    QCOMPARE(about.AboutPageControl->count(), 2);
    QCOMPARE(about.AboutPageControl->tabText(0), QStringLiteral("About"));
    QCOMPARE(about.AboutPageControl->tabText(1), QStringLiteral("Used libraries"));
    QCOMPARE(about.AboutPageControl->currentIndex(), 0);
    QCOMPARE(about.sMemo2->geometry(), QRect(0, 0, 300, 113));
    QCOMPARE(about.LogoImage->geometry(), QRect(0, 116, 300, 75));
    QCOMPARE(about.sMemo1->geometry(), QRect(0, 0, 300, 197));
    QCOMPARE(about.sMemo2->toPlainText(), QStringLiteral("first line\nsecond line"));
    QVERIFY(!about.sMemo2->isReadOnly());
    QVERIFY(about.sMemo1->isReadOnly());
    QCOMPARE(about.sMemo2->palette().color(QPalette::Base), QColor(197, 207, 235));
    QCOMPARE(about.LogoImage->cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(!about.LogoImage->Empty());
    QCOMPARE(about.AboutLink, std::string("https://example.org/one"));

    const QString credits = about.sMemo1->toPlainText();
    for (const char* library : {"Qt ", "libpng", "zlib", "libjpeg-turbo", "Anti-Grain Geometry", "giflib", "libtiff",
                                "ImageMagick"})
      QVERIFY2(credits.contains(QLatin1String(library)), library);
    QCOMPARE(credits.count(QStringLiteral("\n---\n")), 7);
    QVERIFY(!credits.contains(QStringLiteral("unknown")));

    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QTest::mouseClick(about.LogoImage, Qt::LeftButton);
    QCOMPARE(fServices.OpenedDocuments, QStringList{QStringLiteral("https://example.org/one")});
  }

  void aboutBoxFailuresStopItsCreationAtTheFailingStep() {
    fData->Remove("Data/About.dat");
    {
      AboutDialog about(fServices, fData->Path());
      QCOMPARE(fServices.Errors.size(), 1);
      QVERIFY(fServices.Errors[0].startsWith(QStringLiteral("Cannot open file \"")));
      QCOMPARE(about.sMemo2->toPlainText(), QStringLiteral("sMemo2"));
      QCOMPARE(about.AboutLink, std::string());
      QVERIFY(about.LogoImage->Empty());
      about.LogoImageClick();
      QVERIFY(fServices.OpenedDocuments.isEmpty());
    }
    fData->Write("Data/About.dat", "text\n");
    fData->Write("Data/LinkAdr.dat", "");
    {
      AboutDialog about(fServices, fData->Path());
      QCOMPARE(fServices.Errors.last(),
               QStringLiteral("Link file \"%1\" is empty: its first line must be the address the logo opens.")
                   .arg(QString::fromStdString(fData->File("Data/LinkAdr.dat"))));
      QVERIFY(about.LogoImage->Empty());
    }
    fData->Write("Data/LinkAdr.dat", "https://example.org\n");
    fData->Write("Data/Logo.jpg", "not a jpeg at all");
    AboutDialog about(fServices, fData->Path());
    QCOMPARE(fServices.Errors.size(), 3);
    QCOMPARE(about.AboutLink, std::string("https://example.org"));
    QVERIFY(about.LogoImage->Empty());
  }

  void theAboutToolButtonShowsTheBoxModallyAgainAndAgain() {
    auto w = MakeWindow(fServices, *fData);
    AboutDialog about(fServices, fData->Path(), w.get());
    w->SetAboutBox(&about);
    ShowWindow(*w);
    about.sMemo2->setPlainText(QStringLiteral("edited"));
    for (int i = 0; i < 3; ++i) {
      bool wasModal = false;
      QTimer::singleShot(50, &about, [&] {
        wasModal = about.isVisible() && QApplication::activeModalWidget() == &about;
        about.close();
      });
      QTest::mouseClick(Ui(*w).about, Qt::LeftButton);
      QVERIFY(wasModal);
      QVERIFY(!about.isVisible());
    }
    QCOMPARE(about.sMemo2->toPlainText(), QStringLiteral("edited"));
    QCOMPARE(w->RenderCount(), 0);
  }
};

QUIRLON_APP_TEST(AppStartupTest);

}  // namespace quirlon::app::test

#include "StartupTest.moc"
