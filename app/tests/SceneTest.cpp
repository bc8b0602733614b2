// What the window keeps: its values remembered in a settings file between runs, and scenes
// written, opened and rendered by quirlon-render exactly as the window saves them.
#include <filesystem>
#include <fstream>

#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "AppTestSupport.h"
#include "core/Slots.h"

namespace quirlon::app::test {

namespace fs = std::filesystem;

class AppSceneTest : public QObject {
  Q_OBJECT
  std::unique_ptr<TDataFolder> fData;
  TTestServices fServices;
  std::unique_ptr<QTemporaryDir> fDir;

  std::string Path(const std::string& Relative) const { return fDir->filePath(QString::fromStdString(Relative)).toStdString(); }
  std::string SettingsFile() const { return Path("settings/quirlon.ini"); }
  std::unique_ptr<MainWindow> Make(bool Remember) {
    TAppPaths paths{fData->Path(), "/opt/quirlon/maker.exe", "", Remember ? SettingsFile() : std::string()};
    return std::make_unique<MainWindow>(fServices, paths);
  }
  static constexpr std::size_t kFront = core::SlotIndex(core::TSlot::Front);

  // A value of every kind changed as a user changes it: the next template, a bar, a colour, the
  // switches, the sizes, a coloured background and a picture on the FRONT.
  void Change(MainWindow& w, const std::string& FrontPicture) {
    Ui(w).templateArrows->NextButton()->click();
    fServices.ColorAnswers.push_back(raster::TColor(0x00FF00));  // the background, slot 1, shown first
    Ui(w).sourceColour->click();
    Ui(w).shadowDensity->setValue(100);
    Ui(w).reflectionBrightness->setValue(-20);
    fServices.ColorAnswers.push_back(raster::TColor(0x0000C0));
    Ui(w).shadowColour->click();
    Ui(w).fadeReflections->click();
    Ui(w).flipWhenSaved->click();
    Ui(w).saveQuality->setValue(70);
    Ui(w).outputWidth->setValue(120);
    Ui(w).outputHeight->setValue(90);
    Ui(w).outputDpi->setValue(150);
    Ui(w).sourceArrows->NextButton()->click();  // FRONT
    fServices.OpenAnswers.push_back(FrontPicture);
    QTest::mouseClick(Ui(w).sourcePicture, Qt::LeftButton);
    Settle(w);
  }

  std::string CopyPicture(const std::string& Relative) {
    fs::create_directories(fs::path(Path(Relative)).parent_path());
    fs::copy_file(GoodPicture(), Path(Relative), fs::copy_options::overwrite_existing);
    return Path(Relative);
  }

private slots:
  void init() {
    fServices = TTestServices{};
    fData = std::make_unique<TDataFolder>();
    fDir = std::make_unique<QTemporaryDir>();
  }
  void cleanup() {
    QCOMPARE(fServices.BusyDepth, 0);
    fData.reset();
    fDir.reset();
  }

  void everyValueIsThereAtTheNextStart() {
    const std::string front = CopyPicture("art/front.png");
    TUndoableValues before;
    {
      auto w = Make(true);
      ShowWindow(*w);
      w->resize(760, 640);
      Change(*w, front);
      before = w->UndoableValues();
      // The save dialog's folder.
      fServices.SaveAnswers.push_back(TSaveAnswer{Path("shots/one.png"), 0});
      fs::create_directories(Path("shots"));
      Ui(*w).savePicture->click();
      QVERIFY(fs::exists(Path("shots/one.png")));
      w->close();
    }
    QVERIFY(fServices.Errors.isEmpty());
    QVERIFY(fs::exists(SettingsFile()));

    auto w = Make(true);
    QVERIFY(w->UndoableValues() == before);
    QCOMPARE(w->State().Template, 2);
    QCOMPARE(int(w->State().Settings.ShadowDensity), 100);
    QCOMPARE(w->State().Settings.ReflectionBrightness, -20);
    QCOMPARE(w->State().Settings.ShadowColor, raster::TColor(0x0000C0));
    QVERIFY(!w->State().Settings.FadeReflection);
    QCOMPARE(w->State().Sources[0].Colour, raster::TColor(0x00FF00));
    QCOMPARE(w->State().Sources[kFront].File, front);
    QCOMPARE(Ui(*w).outputWidth->Value(), 120);
    QCOMPARE(Ui(*w).outputDpi->Value(), 150);
    QCOMPARE(Ui(*w).saveQuality->Value(), 70);
    QVERIFY(Ui(*w).flipWhenSaved->isChecked());
    QVERIFY(!Ui(*w).fadeReflections->isChecked());
    QCOMPARE(Ui(*w).shadowDensity->value(), 100);
    // The slot last shown, with its picture; the window's size; the dialogs' folders.
    QCOMPARE(Ui(*w).sourceName->text(), QStringLiteral("FRONT"));
    QVERIFY(!Ui(*w).sourcePicture->Empty());
    QCOMPARE(w->size(), QSize(760, 640));
    QTest::mouseClick(Ui(*w).sourcePicture, Qt::LeftButton);  // cancelled
    QCOMPARE(fServices.OpenFolders.back(), fs::path(front).parent_path().string());
    Ui(*w).savePicture->click();  // cancelled
    QCOMPARE(fs::path(fServices.SaveInitialNames.back()).parent_path(), fs::path(Path("shots")));
    // What is shown is rendered, and nothing was reported.
    Settle(*w);
    QCOMPARE(w->Result().Width(), 120);
    QVERIFY(fServices.Errors.isEmpty());
    QCOMPARE(w->UndoStack().count(), 0);
  }

  void aMissingPictureIsLeftOutAndNamedInTheStatusBar() {
    const std::string gone = CopyPicture("gone/front-gone.png");
    {
      auto w = Make(true);
      w->OpenFiles({QString::fromStdString(gone)});
      Settle(*w);
      QCOMPARE(w->State().Sources[kFront].File, gone);
    }
    fs::remove(gone);
    auto w = Make(true);
    QVERIFY(fServices.Errors.isEmpty());
    QVERIFY2(w->StatusBar()->currentMessage().contains(QStringLiteral("front-gone.png")),
             qPrintable(w->StatusBar()->currentMessage()));
    QVERIFY(w->State().Sources[kFront].UsesColour());
    QCOMPARE(w->State().Sources[kFront].Colour, core::kSlots[kFront].DefaultColour);
    Settle(*w);
    QVERIFY(fServices.Errors.isEmpty());
  }

  void aBrokenSettingsFileStartsAsUsual() {
    fs::create_directories(fs::path(SettingsFile()).parent_path());
    std::ofstream(SettingsFile()) << "[values]\nwidth=lots\ntemplate=No such template\nshadow-density=300\n"
                                     "height=77\n[window]\nslot=99\n";
    auto w = Make(true);
    QVERIFY(fServices.Errors.isEmpty());
    QCOMPARE(Ui(*w).outputWidth->Value(), 800);
    QCOMPARE(Ui(*w).outputHeight->Value(), 77);
    QCOMPARE(w->State().Template, 1);
    QCOMPARE(int(w->State().Settings.ShadowDensity), 255);
    QCOMPARE(Ui(*w).sourceArrows->Position(), 9);
    const QString message = w->StatusBar()->currentMessage();
    QVERIFY2(message.contains(QStringLiteral("lots")) && message.contains(QStringLiteral("No such template")),
             qPrintable(message));
  }

  void aSceneRendersOnTheCommandLineAsTheWindowSavesIt() {
    auto w = Make(false);
    Change(*w, CopyPicture("scene/art/front.png"));
    const std::string scene = Path("scene/box.json");
    w->SaveScene(scene);
    std::ifstream in(scene);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The picture beside the scene is named relative to it.
    QVERIFY2(text.find("\"front\": \"art/front.png\"") != std::string::npos, text.c_str());

    fServices.SaveAnswers.push_back(TSaveAnswer{Path("window.png"), 0});
    Ui(*w).savePicture->click();
    QVERIFY(fServices.Errors.isEmpty());

    QProcess render;
    render.setWorkingDirectory(QString::fromStdString(Path("")));
    render.start(QStringLiteral(QUIRLON_RENDER),
                 {QStringLiteral("--scene"), QString::fromStdString(scene), QStringLiteral("-o"), QStringLiteral("cli.png")});
    QVERIFY(render.waitForFinished(120000));
    QVERIFY2(render.exitCode() == 0, render.readAllStandardError().constData());
    const QImage fromWindow = QImage(QString::fromStdString(Path("window.png"))).convertToFormat(QImage::Format_ARGB32);
    const QImage fromCli = QImage(QString::fromStdString(Path("cli.png"))).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(fromWindow.size(), QSize(120, 90));
    QCOMPARE(fromCli.size(), fromWindow.size());
    QCOMPARE(fromCli.dotsPerMeterX(), fromWindow.dotsPerMeterX());
    QVERIFY(fromCli == fromWindow);
  }

  void openingASceneIsOneStepAndFilesGivenToTheProgramOpen() {
    const std::string scene = Path("scene/box.json");
    TUndoableValues saved;
    {
      auto w = Make(false);
      Change(*w, CopyPicture("scene/art/front.png"));
      w->SaveScene(scene);
      saved = w->UndoableValues();
    }
    auto w = Make(false);
    const TUndoableValues start = w->UndoableValues();
    // Through the desktop's "Open with": a scene and a picture.
    const std::string other = CopyPicture("other/other.png");
    w->OpenFiles({QString::fromStdString(scene), QString::fromStdString(other)});
    QVERIFY(fServices.Errors.isEmpty());
    QCOMPARE(w->State().Sources[kFront].File, other);
    QCOMPARE(w->UndoStack().count(), 2);
    w->UndoStack().undo();
    QVERIFY(w->UndoableValues() == saved);
    QCOMPARE(Ui(*w).saveQuality->Value(), 70);
    QVERIFY(Ui(*w).flipWhenSaved->isChecked());
    w->UndoStack().undo();
    QVERIFY(w->UndoableValues() == start);
    Settle(*w);
    QVERIFY(fServices.Errors.isEmpty());
  }

  void aSceneThatCannotBeUsedChangesNothing() {
    auto w = Make(false);
    ShowWindow(*w);
    const TUndoableValues start = w->UndoableValues();
    const std::string bad = Path("bad.json");
    std::ofstream(bad) << "{\"width\": \"120\", \"shadow-blur\": \"500\"}\n";
    // Ctrl+O, the way a user opens one.
    fServices.OpenAnswers.push_back(bad);
    QTest::keyClick(w.get(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(fServices.OpenTitles.back(), QStringLiteral("Open scene"));
    QCOMPARE(fServices.Errors.size(), 1);
    QVERIFY2(fServices.Errors[0].contains(QStringLiteral("bad.json")) && fServices.Errors[0].contains(QStringLiteral("shadow-blur")),
             qPrintable(fServices.Errors[0]));
    QVERIFY(w->UndoableValues() == start);
    QCOMPARE(w->UndoStack().count(), 0);
    // Ctrl+Shift+S saves one; a name without extension gets ".json".
    fServices.SaveAnswers.push_back(TSaveAnswer{Path("typed"), 0});
    QTest::keyClick(w.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(fs::exists(Path("typed.json")));
  }
};

QUIRLON_APP_TEST(AppSceneTest);

}  // namespace quirlon::app::test

#include "SceneTest.moc"
