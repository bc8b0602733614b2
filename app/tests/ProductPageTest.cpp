// The "Product" page: a product built from the page's values renders what the model gives for the
// same values, units and page counts reach the model in millimetres, angles outside the view's
// range are refused, a cover wrap is split into the product's slots, and a product saved as a
// template lands in the user's folder and in the chooser.
#include <algorithm>

#include <QDir>

#include <QDoubleSpinBox>
#include <QFile>
#include <QImage>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include "AppTestSupport.h"
#include "app/ProductPage.h"
#include "core/Platform.h"
#include "core/Template.h"

namespace quirlon::app::test {

namespace {

// The page's controls, found by their object names.
struct TProductControls {
  explicit TProductControls(QWidget& Window)
      : kind(Find<QComboBox>(Window, "productKind")),
        width(Find<QDoubleSpinBox>(Window, "productWidth")),
        height(Find<QDoubleSpinBox>(Window, "productHeight")),
        depth(Find<QDoubleSpinBox>(Window, "productDepth")),
        unit(Find<QComboBox>(Window, "productUnit")),
        pages(Find<QSpinBox>(Window, "productPages")),
        paper(Find<QComboBox>(Window, "productPaper")),
        yaw(Find<TTrackBar>(Window, "productYaw")),
        pitch(Find<TTrackBar>(Window, "productPitch")),
        fitToArtwork(Find<QCheckBox>(Window, "fitToArtwork")),
        status(Find<QLabel>(Window, "productStatus")) {}
  QComboBox* kind;
  QDoubleSpinBox* width;
  QDoubleSpinBox* height;
  QDoubleSpinBox* depth;
  QComboBox* unit;
  QSpinBox* pages;
  QComboBox* paper;
  TTrackBar* yaw;
  TTrackBar* pitch;
  QCheckBox* fitToArtwork;
  QLabel* status;

  void ChooseKind(const char* Name) const { kind->setCurrentIndex(kind->findText(QString::fromLatin1(Name))); }
  // As a mouse letting go of the slider at Value.
  static void Drag(TTrackBar* Slider, int Value) {
    Slider->setValue(Value);
    emit Slider->MouseUp();
  }

private:
  template <class T>
  static T* Find(QWidget& Window, const char* Name) {
    T* found = Window.findChild<T*>(QString::fromLatin1(Name));
    if (found == nullptr) qFatal("no control named %s", Name);
    return found;
  }
};
TProductControls Product(QWidget& Window) { return TProductControls(Window); }

// The flattened picture's pixels.
std::vector<raster::TColor32> Pixels(const core::TRenderResult& Result) {
  const std::unique_ptr<raster::TBitmap32> flat = core::Flatten(Result);
  const raster::TColor32* bits = flat->Bits();
  return {bits, bits + static_cast<std::size_t>(flat->Width()) * static_cast<std::size_t>(flat->Height())};
}

// What core renders for Job with the default sources at the window's output size, without the
// window.
std::vector<raster::TColor32> ModelPicture(const core::TProductJob& Job, const TDataFolder& Data, int Width, int Height) {
  imagefiles::TPictureCache pictures;
  const core::TProductTemplate built =
      core::BuildProductTemplate(Job, nullptr, core::DefaultSlotSources(), pictures, imagefiles::kDefaultPicturePixels);
  core::TRenderRequest request;
  request.Template.Parsed = built.Template;
  request.Sources = built.Sources;
  request.Width = Width;
  request.Height = Height;
  request.CustomFolder = Data.File(core::kCustomFolder);
  request.Pictures = &pictures;
  return Pixels(core::ApplyTemplate(request));
}

QString ReadText(const std::string& File) {
  QFile file(QString::fromStdString(File));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

// A full cover wrap of a 5 x 8 in book with a 0.5 in spine and 0.125 in bleed at 40 pixels per
// inch: 10.75 x 8.25 in, 430 x 330 pixels; back red, spine green, front blue.
void WriteCoverWrap(const QString& File) {
  QImage wrap(430, 330, QImage::Format_RGB32);
  wrap.fill(QColor(200, 0, 0));
  for (int y = 0; y < wrap.height(); ++y) {
    for (int x = 205; x < 225; ++x) wrap.setPixelColor(x, y, QColor(0, 160, 0));
    for (int x = 225; x < 430; ++x) wrap.setPixelColor(x, y, QColor(0, 0, 200));
  }
  QVERIFY(wrap.save(File, "PNG"));
}

}  // namespace

class AppProductPageTest : public QObject {
  Q_OBJECT
  std::unique_ptr<TDataFolder> fData;
  TTestServices fServices;
  std::unique_ptr<MainWindow> fWindow;
  QTemporaryDir fUserData;

  void Output(int Width, int Height) {
    // The size fields render as they change; the product page is chosen afterwards.
    Ui(*fWindow).outputWidth->setValue(Width);
    Ui(*fWindow).outputHeight->setValue(Height);
  }

private slots:
  void init() {
    qputenv("XDG_DATA_HOME", fUserData.path().toUtf8());
    fServices = TTestServices();
    fData = std::make_unique<TDataFolder>();
    fData->KeepTemplates(2);
    fWindow = std::make_unique<MainWindow>(fServices,
                                           TAppPaths{fData->Path(), "/opt/quirlon/maker.exe", core::UserTemplatesFolder(), ""});
  }
  void cleanup() {
    fWindow.reset();
    fData.reset();
    QDir(fUserData.path() + QStringLiteral("/quirlon")).removeRecursively();
    qunsetenv("XDG_DATA_HOME");
  }

  void thePageSitsBesideTheEffectPagesAndStartsWithTheTemplate() {
    QTabWidget* pages = Ui(*fWindow).effectPages;
    QCOMPARE(pages->tabText(3), QStringLiteral("Product"));
    QCOMPARE(Product(*fWindow).kind->currentText(), QStringLiteral("Template"));
    QVERIFY(!Product(*fWindow).width->isEnabled());
    QVERIFY(!Product(*fWindow).yaw->isEnabled());
    QVERIFY(fWindow->State().Product.Kind.empty());
  }

  void aKindAndSizeRenderWhatTheModelGives() {
    ShowWindow(*fWindow);
    Output(200, 150);
    QTest::mouseClick(Ui(*fWindow).apply, Qt::LeftButton);
    Settle(*fWindow);
    const std::vector<raster::TColor32> templatePicture = Pixels(fWindow->Result());
    const TProductControls p = Product(*fWindow);
    p.ChooseKind("paperback");
    p.width->setValue(127);
    p.height->setValue(203);
    p.depth->setValue(15);
    TProductControls::Drag(p.yaw, -35);
    TProductControls::Drag(p.pitch, 12);
    QVERIFY2(fServices.Errors.isEmpty(), qPrintable(fServices.Errors.join("; ")));

    core::TProductJob job;
    job.Kind = "paperback";
    job.Size = core::TProductSize{127, 203, 15};
    job.Yaw = -35;
    job.Pitch = 12;
    const core::TProductJob& kept = fWindow->State().Product;
    QCOMPARE(kept.Kind, job.Kind);
    QVERIFY(kept.Size == job.Size);
    QCOMPARE(*kept.Yaw, -35.0);
    QCOMPARE(*kept.Pitch, 12.0);
    Settle(*fWindow);
    const std::vector<raster::TColor32> shown = Pixels(fWindow->Result());
    Settle(*fWindow);
    QCOMPARE(fWindow->Result().Width(), 200);
    QVERIFY(shown != templatePicture);
    QVERIFY(shown == ModelPicture(job, *fData, 200, 150));
    QVERIFY2(p.status->text().contains(QStringLiteral("127 x 203 x 15 mm")), qPrintable(p.status->text()));

    // Back to "Template": the chooser's template renders as before.
    p.ChooseKind("Template");
    QVERIFY(fWindow->State().Product.Kind.empty());
    Settle(*fWindow);
    QVERIFY(Pixels(fWindow->Result()) == templatePicture);
  }

  void inchesAndPageCountsReachTheModelInMillimetres() {
    Output(160, 120);
    const TProductControls p = Product(*fWindow);
    p.ChooseKind("paperback");
    p.width->setValue(127);
    p.unit->setCurrentIndex(p.unit->findText(QStringLiteral("in")));
    // 127 mm / 25.4 = 5 in; 203 mm / 25.4 = 7.992 in.
    QCOMPARE(p.width->value(), 5.0);
    QCOMPARE(p.height->value(), 7.992);
    p.width->setValue(5.5);
    // 5.5 in = 139.7 mm; the height is kept to the millimetre, not to the field's three decimals.
    QCOMPARE(fWindow->State().Product.Size->Width, 5.5 * 25.4);
    QCOMPARE(fWindow->State().Product.Size->Height, 203.0);
    p.unit->setCurrentIndex(p.unit->findText(QStringLiteral("mm")));
    QCOMPARE(p.width->value(), 139.7);

    // 320 cream pages at 0.0635 mm: a 20.32 mm spine, shown in the (then fixed) depth field.
    p.paper->setCurrentIndex(p.paper->findText(QStringLiteral("cream")));
    p.pages->setValue(320);
    QVERIFY2(fServices.Errors.isEmpty(), qPrintable(fServices.Errors.join("; ")));
    QCOMPARE(fWindow->State().Product.Pages, 320);
    QCOMPARE(fWindow->State().Product.Paper, core::TPaper::Cream);
    QVERIFY(!p.depth->isEnabled());
    QCOMPARE(p.depth->value(), 20.3);
    QVERIFY2(p.status->text().contains(QStringLiteral("x 20.3 mm")), qPrintable(p.status->text()));
  }

  void fitToArtworkTakesTheFrontPicturesProportions() {
    Output(160, 120);
    QTemporaryDir dir;
    const QString front = dir.filePath(QStringLiteral("front.png"));
    QImage picture(100, 160, QImage::Format_RGB32);  // 1 : 1.6
    picture.fill(QColor(30, 60, 200));
    QVERIFY(picture.save(front, "PNG"));
    emit Ui(*fWindow).preview->FileDropped(front);
    const TProductControls p = Product(*fWindow);
    p.ChooseKind("paperback");
    QVERIFY2(p.status->text().contains(QStringLiteral("127 x 203 x 16 mm")), qPrintable(p.status->text()));
    p.fitToArtwork->click();
    QVERIFY2(fServices.Errors.isEmpty(), qPrintable(fServices.Errors.join("; ")));
    QVERIFY(fWindow->State().Product.FitArt);
    // The height is kept: 203 mm / 1.6 = 126.875 mm wide, the spine as it was (SIDE is a colour).
    QVERIFY2(p.status->text().contains(QStringLiteral("126.9 x 203 x 16 mm")), qPrintable(p.status->text()));
  }

  void anglesOutsideTheViewAreRefusedWithAMessage() {
    Output(160, 120);
    const TProductControls p = Product(*fWindow);
    // A disc has one face: -75 to 75 degrees; the slider cannot go further.
    p.ChooseKind("disc");
    QCOMPARE(p.yaw->minimum(), -75);
    QCOMPARE(p.yaw->maximum(), 75);
    QVERIFY(!p.height->isEnabled());
    QVERIFY(!p.depth->isEnabled());
    // Pitch: level (0) to 40 degrees from above.
    QCOMPARE(p.pitch->minimum(), 0);
    QCOMPARE(p.pitch->maximum(), 40);

    // A box is seen from all round, but not edge-on: 90 degrees shows its front as a sliver.
    p.ChooseKind("box");
    QCOMPARE(p.yaw->minimum(), -180);
    QCOMPARE(p.yaw->maximum(), 180);
    Settle(*fWindow);
    const std::vector<raster::TColor32> before = Pixels(fWindow->Result());
    const int rendersBefore = fWindow->RenderCount();
    TProductControls::Drag(p.yaw, 90);
    QCOMPARE(fServices.Errors.size(), 1);
    QVERIFY2(fServices.Errors[0].contains(QStringLiteral("Yaw 90")), qPrintable(fServices.Errors[0]));
    QVERIFY2(fServices.Errors[0].contains(QStringLiteral("range")), qPrintable(fServices.Errors[0]));
    QVERIFY(p.status->text().contains(QStringLiteral("Yaw 90")));
    // Refused: the state, the slider and the picture keep the view they had.
    QCOMPARE(*fWindow->State().Product.Yaw, 30.0);
    QCOMPARE(p.yaw->value(), 30);
    Settle(*fWindow);
    QVERIFY(Pixels(fWindow->Result()) == before);
    QCOMPARE(fWindow->RenderCount(), rendersBefore + 1);
    // And the window goes on: the next angle renders.
    TProductControls::Drag(p.yaw, -40);
    QCOMPARE(fServices.Errors.size(), 1);
    QCOMPARE(*fWindow->State().Product.Yaw, -40.0);
  }

  void saveAsTemplateAddsItToTheChooserAndChoosesIt() {
    Output(160, 120);
    const std::string folder = fUserData.path().toStdString() + "/quirlon/Templates/";
    QCOMPARE(fWindow->Paths().UserTemplatesFolder, folder);
    QCOMPARE(Ui(*fWindow).templateArrows->Max(), 2);
    const TProductControls p = Product(*fWindow);
    p.ChooseKind("hardcover");
    TProductControls::Drag(p.yaw, -20);
    Settle(*fWindow);
    const std::vector<raster::TColor32> product = Pixels(fWindow->Result());

    fWindow->SaveProductTemplate("My hardcover");
    QVERIFY2(fServices.Errors.isEmpty(), qPrintable(fServices.Errors.join("; ")));
    const QString text = ReadText(folder + "My hardcover.ini");
    QVERIFY(text.contains(QStringLiteral("[Product]")));
    QVERIFY(text.contains(QStringLiteral("hardcover")));
    QCOMPARE(Ui(*fWindow).templateArrows->Max(), 3);
    QCOMPARE(fWindow->State().Template, 3);
    QCOMPARE(Ui(*fWindow).templateName->text(), QStringLiteral("My hardcover"));

    // The template renders the product it was saved from.
    p.ChooseKind("Template");
    QVERIFY2(fServices.Errors.isEmpty(), qPrintable(fServices.Errors.join("; ")));
    Settle(*fWindow);
    QVERIFY(Pixels(fWindow->Result()) == product);
  }

  void saveAsTemplateRefusesBadNamesAndExistingFiles_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << QString() << QStringLiteral("cannot be used");
    QTest::newRow("hidden") << QStringLiteral(".hidden") << QStringLiteral("cannot be used");
    QTest::newRow("folder") << QStringLiteral("a/b") << QStringLiteral("cannot be used");
    QTest::newRow("backslash") << QStringLiteral("a\\b") << QStringLiteral("cannot be used");
    QTest::newRow("existing") << QStringLiteral("Mine") << QStringLiteral("exists already");
  }
  void saveAsTemplateRefusesBadNamesAndExistingFiles() {
    QFETCH(QString, name);
    QFETCH(QString, message);
    const std::string folder = fUserData.path().toStdString() + "/quirlon/Templates/";
    QVERIFY(QDir().mkpath(QString::fromStdString(folder)));
    {
      QFile mine(QString::fromStdString(folder + "Mine.ini"));
      QVERIFY(mine.open(QIODevice::WriteOnly));
      mine.write("the user's own\n");
    }
    Product(*fWindow).ChooseKind("box");
    fServices.Errors.clear();
    // Reported as the button's handler reports it.
    try {
      fWindow->SaveProductTemplate(name.toStdString());
    } catch (const std::exception& e) {
      fWindow->ReportError(e);
    }
    QCOMPARE(fServices.Errors.size(), 1);
    QVERIFY2(fServices.Errors[0].contains(message), qPrintable(fServices.Errors[0]));
    QCOMPARE(QDir(QString::fromStdString(folder)).entryList(QDir::Files), QStringList{QStringLiteral("Mine.ini")});
    QCOMPARE(ReadText(folder + "Mine.ini"), QStringLiteral("the user's own\n"));
  }

  void aCoverWrapFillsTheBookAndAWrongOneIsRefused() {
    Output(200, 150);
    QTemporaryDir dir;
    const QString wrapFile = dir.filePath(QStringLiteral("wrap.png"));
    WriteCoverWrap(wrapFile);
    const TProductControls p = Product(*fWindow);
    p.ChooseKind("paperback");
    p.unit->setCurrentIndex(p.unit->findText(QStringLiteral("in")));
    p.width->setValue(5);
    p.height->setValue(8);
    p.depth->setValue(0.5);
    TProductControls::Drag(p.yaw, 150);  // the back cover turned to the camera
    fServices.OpenAnswers.push_back(wrapFile.toStdString());
    QTest::mouseClick(fWindow->findChild<QPushButton*>(QStringLiteral("splitWrap")), Qt::LeftButton);
    QVERIFY2(fServices.Errors.isEmpty(), qPrintable(fServices.Errors.join("; ")));
    QCOMPARE(fWindow->State().Product.Wrap, wrapFile.toStdString());

    core::TProductJob job;
    job.Kind = "paperback";
    job.Size = core::TProductSize{5 * 25.4, 8 * 25.4, 0.5 * 25.4};
    job.Yaw = 150;
    job.Pitch = 14;
    job.Wrap = wrapFile.toStdString();
    Settle(*fWindow);
    QVERIFY(Pixels(fWindow->Result()) == ModelPicture(job, *fData, 200, 150));
    // Seen from behind, the red back cover shows (in shade: the light falls from the front).
    Settle(*fWindow);
    const std::vector<raster::TColor32> shown = Pixels(fWindow->Result());
    const auto red = std::count_if(shown.begin(), shown.end(), [](raster::TColor32 c) {
      const int r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
      return r > 80 && r > 3 * g && r > 3 * b;
    });
    QVERIFY2(red > 200, qPrintable(QString::number(red)));

    // A 1 in spine does not match the wrap's 0.5 in: refused, the product keeps its wrap.
    Settle(*fWindow);
    const std::vector<raster::TColor32> before = Pixels(fWindow->Result());
    p.depth->setValue(1);
    QCOMPARE(fServices.Errors.size(), 1);
    QCOMPARE(p.depth->value(), 0.5);
    QCOMPARE(fWindow->State().Product.Wrap, wrapFile.toStdString());
    Settle(*fWindow);
    QVERIFY(Pixels(fWindow->Result()) == before);
  }
};

QUIRLON_APP_TEST(AppProductPageTest);

}  // namespace quirlon::app::test

#include "ProductPageTest.moc"
