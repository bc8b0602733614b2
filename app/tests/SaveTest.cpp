// "Save picture": the flatten, the mirror, the dialog and the writers, read back with Qt's own
// image readers and by their header bytes.
#include <filesystem>
#include <fstream>

#include <QImage>
#include <QTest>

#include "AppTestSupport.h"
#include "core/RenderSettings.h"

namespace quirlon::app::test {

namespace {

std::string ReadBytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::uint32_t Le32(const std::string& b, std::size_t at) {
  return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8 |
         std::uint32_t(std::uint8_t(b[at + 2])) << 16 | std::uint32_t(std::uint8_t(b[at + 3])) << 24;
}

int Be16(const std::string& b, std::size_t at) { return std::uint8_t(b[at]) << 8 | std::uint8_t(b[at + 1]); }

QImage Read(const std::string& file) {
  QImage image(QString::fromStdString(file));
  return image.convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

class AppSaveTest : public QObject {
  Q_OBJECT
  std::unique_ptr<TDataFolder> fData;
  TTestServices fServices;
  std::unique_ptr<MainWindow> fWindow;

  // Answers the dialog with Name and the filter entry Filter (0: PNG, the first).
  std::string SaveAs(const std::string& name, std::size_t filter = 0) {
    const std::string file = fData->File(name);
    fServices.SaveAnswers.push_back(TSaveAnswer{file, filter});
    QTest::mouseClick(Ui(*fWindow).savePicture, Qt::LeftButton);
    return file;
  }

private slots:
  void init() {
    fServices = TTestServices{};
    fData = std::make_unique<TDataFolder>();
    fWindow = MakeWindow(fServices, *fData);
    ShowWindow(*fWindow);
    const QSignalBlocker quietWidth(Ui(*fWindow).outputWidth);
    const QSignalBlocker quietHeight(Ui(*fWindow).outputHeight);
    Ui(*fWindow).outputWidth->setValue(160);
    Ui(*fWindow).outputHeight->setValue(120);
  }
  void cleanup() {
    QVERIFY2(fServices.Errors.isEmpty(), qPrintable(fServices.Errors.join(QLatin1Char('\n'))));
    fWindow.reset();
    fData.reset();
  }

  void eachFormatIsWrittenWithTheChosenResolution() {
    QTest::mouseClick(Ui(*fWindow).apply, Qt::LeftButton);
    Ui(*fWindow).outputDpi->setValue(300);
    const std::string png = SaveAs("shot.png");
    const std::string jpg = SaveAs("shot.jpg");
    const std::string bmp = SaveAs("shot.bmp");
    Ui(*fWindow).outputDpi->setValue(60);
    const std::string bmp60 = SaveAs("shot60.bmp");

    const std::string filter =
        "PNG Image (*.png)|*.png|JPEG Image (*.jpg;*.jpeg;*.jpe;*.jfif)|*.jpg;*.jpeg;*.jpe;*.jfif|"
        "BMP Image (*.bmp;*.dib)|*.bmp;*.dib|WebP Image (*.webp)|*.webp|TIFF Image (*.tif;*.tiff)|*.tif;*.tiff";
    QCOMPARE(fServices.SaveFilters, std::vector<std::string>(4, filter));
    QCOMPARE(fServices.SaveDefaultExts, std::vector<std::string>(4, ".png"));
    // The dialog proposes the last chosen name again.
    QCOMPARE(fServices.SaveInitialNames, (std::vector<std::string>{"", png, jpg, bmp}));

    // 300 dpi is ceil(300 x 39.3700787) = 11812 pixels per metre; 60 dpi is 2363.
    const QImage fromPng = Read(png);
    QCOMPARE(fromPng.size(), QSize(160, 120));
    QCOMPARE(fromPng.dotsPerMeterX(), 11812);
    QCOMPARE(fromPng.dotsPerMeterY(), 11812);
    QCOMPARE(QColor::fromRgba(fromPng.pixel(0, 0)), QColor(255, 255, 255, 255));

    const std::string jfif = ReadBytes(jpg);
    QCOMPARE(jfif.substr(6, 5), std::string("JFIF\0", 5));
    QCOMPARE(int(std::uint8_t(jfif[13])), 1);
    QCOMPARE(Be16(jfif, 14), 300);
    QCOMPARE(Be16(jfif, 16), 300);
    QCOMPARE(Read(jpg).size(), QSize(160, 120));

    const std::string bits = ReadBytes(bmp);
    QCOMPARE(bits.size(), std::size_t(54 + 4 * 160 * 120));
    QCOMPARE(Le32(bits, 38), 11812u);
    QCOMPARE(Le32(bits, 42), 11812u);
    QCOMPARE(Le32(ReadBytes(bmp60), 38), 2363u);
    // An emptied DPI field counts as its minimum, 60.
    Ui(*fWindow).outputDpi->setValue(300);
    Ui(*fWindow).outputDpi->setFocus();
    Ui(*fWindow).outputDpi->selectAll();
    QTest::keyClick(Ui(*fWindow).outputDpi, Qt::Key_Backspace);
    QCOMPARE(Ui(*fWindow).outputDpi->Text(), QString());
    QCOMPARE(Le32(ReadBytes(SaveAs("empty-dpi.bmp")), 42), 2363u);
    // The BMP and the PNG hold the same picture.
    const QImage fromBmp = Read(bmp);
    for (int y = 0; y < 120; y += 7)
      for (int x = 0; x < 160; x += 5) QCOMPARE(fromBmp.pixel(x, y) & 0xFFFFFFu, fromPng.pixel(x, y) & 0xFFFFFFu);
  }

  // A name typed without an extension gets the chosen entry's; a name with one keeps it, whatever
  // the entry (the name is what the user sees), and its format follows the name.
  void aNameWithoutExtensionGetsTheChosenFormats() {
    QTest::mouseClick(Ui(*fWindow).apply, Qt::LeftButton);
    const struct {
      const char* Typed;
      std::size_t Filter;
      const char* Saved;
      std::string Magic;
    } cases[] = {
        {"a", 0, "a.png", "\x89PNG"},      {"b", 1, "b.jpg", "\xFF\xD8\xFF"},   {"c", 2, "c.bmp", "BM"},
        {"d", 3, "d.webp", "RIFF"},        {"e", 4, "e.tif", std::string("II*\0", 4)},
        {"f.jpeg", 0, "f.jpeg", "\xFF\xD8\xFF"}, {"g.cover", 3, "g.cover.webp", "RIFF"},
    };
    for (const auto& c : cases) {
      SaveAs(c.Typed, c.Filter);
      const std::string bytes = ReadBytes(fData->File(c.Saved));
      QVERIFY2(bytes.compare(0, c.Magic.size(), c.Magic) == 0, c.Saved);
      QVERIFY2(!std::filesystem::exists(fData->File(c.Typed)) || std::string(c.Typed) == c.Saved, c.Typed);
    }
    // The dialog proposes the name as it was saved.
    QCOMPARE(fServices.SaveInitialNames.back(), fData->File("f.jpeg"));
    // Qt's dialog shows one entry per format, its first pattern the extension a bare name gets.
    QCOMPARE(QtNameFilters(SaveFilter()),
             (QStringList{QStringLiteral("PNG Image (*.png)"), QStringLiteral("JPEG Image (*.jpg *.jpeg *.jpe *.jfif)"),
                          QStringLiteral("BMP Image (*.bmp *.dib)"), QStringLiteral("WebP Image (*.webp)"),
                          QStringLiteral("TIFF Image (*.tif *.tiff)")}));
  }

  // The quality, the PNG effort and lossless WebP beside the save button reach the writers.
  void saveSettingsReachTheWriters() {
    QTest::mouseClick(Ui(*fWindow).apply, Qt::LeftButton);
    QCOMPARE(Ui(*fWindow).saveQuality->Value(), 90);
    QCOMPARE(Ui(*fWindow).pngEffort->currentText(), QStringLiteral("Default"));
    QVERIFY(!Ui(*fWindow).webpLossless->isChecked());
    const std::string jpg90 = ReadBytes(SaveAs("q90.jpg"));
    const std::string webp90 = ReadBytes(SaveAs("q90.webp"));
    const std::string pngDefault = ReadBytes(SaveAs("default.png"));
    Ui(*fWindow).saveQuality->setValue(20);
    Ui(*fWindow).pngEffort->setCurrentIndex(0);
    QVERIFY(ReadBytes(SaveAs("q20.jpg")).size() < jpg90.size());
    QVERIFY(ReadBytes(SaveAs("q20.webp")).size() < webp90.size());
    const std::string pngFast = ReadBytes(SaveAs("fast.png"));
    QVERIFY(pngFast.size() >= pngDefault.size());
    QCOMPARE(Read(fData->File("fast.png")), Read(fData->File("default.png")));
    // Lossy WebP is a "VP8 " or extended picture; lossless is "VP8L".
    QVERIFY(webp90.substr(12, 4) != "VP8L");
    QTest::mouseClick(Ui(*fWindow).webpLossless, Qt::LeftButton);
    QCOMPARE(ReadBytes(SaveAs("lossless.webp")).substr(12, 4), std::string("VP8L"));
  }

  void flipMirrorsTheFileAndNotThePreview() {
    QTest::mouseClick(Ui(*fWindow).apply, Qt::LeftButton);
    const QImage plain = Read(SaveAs("plain.png"));
    const QImage screenBefore = Ui(*fWindow).preview->grab().toImage();
    QTest::mouseClick(Ui(*fWindow).flipWhenSaved, Qt::LeftButton);
    const QImage flipped = Read(SaveAs("flipped.png"));
    QCOMPARE(flipped, plain.mirrored(true, false));
    QVERIFY(flipped != plain);
    QCOMPARE(Ui(*fWindow).preview->grab().toImage(), screenBefore);
    // A second flipped save is mirrored once, not twice.
    QCOMPARE(Read(SaveAs("flipped2.png")), flipped);
  }

  void hiddenLayersAreNotSaved() {
    MainWindow& w = *fWindow;
    QTest::mouseClick(Ui(w).apply, Qt::LeftButton);
    Settle(w);
    bool reflections = false;
    for (const auto& k : w.LayerKinds()) reflections = reflections || k == "reflection";
    if (!reflections) QSKIP("the first template has no reflection layer");
    const QImage shown = Read(SaveAs("shown.png"));
    QTest::mouseClick(Ui(w).showReflections, Qt::LeftButton);
    const QImage hidden = Read(SaveAs("hidden.png"));
    QVERIFY(hidden != shown);
    // The same picture as reflections drawn fully transparent.
    QTest::mouseClick(Ui(w).showReflections, Qt::LeftButton);
    Ui(w).reflectionOpacity->setValue(0);
    QTest::mouseRelease(Ui(w).reflectionOpacity, Qt::LeftButton, {}, Ui(w).reflectionOpacity->rect().center());
    QCOMPARE(int(fWindow->State().Settings.ReflectionOpacity), 0);
    QCOMPARE(Read(SaveAs("transparent.png")), hidden);
  }

  void theFileHasTheSizeOfTheLastRenderAndCancelWritesNothing() {
    MainWindow& w = *fWindow;
    // Before any render: a save renders the values in the fields first, never an empty canvas.
    const QImage first = Read(SaveAs("first.png"));
    QCOMPARE(first.size(), QSize(160, 120));
    QCOMPARE(qAlpha(first.pixel(80, 60)), 255);
    QCOMPARE(w.RenderCount(), 1);
    QCOMPARE(QColor(first.pixel(0, 0)), QColor(Qt::white));  // the default background colour

    QTest::mouseClick(Ui(w).apply, Qt::LeftButton);
    Settle(w);
    Ui(w).outputHeight->setFocus();
    Ui(w).outputHeight->selectAll();
    QTest::keyClicks(Ui(w).outputHeight, QStringLiteral("5"));
    Settle(w);
    QCOMPARE(w.RenderCount(), 2);
    QCOMPARE(Read(SaveAs("last.png")).size(), QSize(160, 120));

    QTest::mouseClick(Ui(w).savePicture, Qt::LeftButton);  // cancelled
    QCOMPARE(fServices.SaveFilters.size(), std::size_t(3));
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(fData->Path()))
      files += e.path().extension() == ".png";
    QCOMPARE(files, 2);
  }
};

QUIRLON_APP_TEST(AppSaveTest);

}  // namespace quirlon::app::test

#include "SaveTest.moc"
