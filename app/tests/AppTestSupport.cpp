#include "AppTestSupport.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <QSignalBlocker>
#include <QTest>

#include "imagefiles/OutputWriters.h"
#include "raster/Bitmap32.h"

namespace quirlon::app::test {

namespace fs = std::filesystem;

std::vector<std::pair<QString, TSuiteFactory>>& Registry() {
  static std::vector<std::pair<QString, TSuiteFactory>> registry;
  return registry;
}

std::optional<std::string> TTestServices::OpenPicture(QWidget*, const QString& Title, const std::string& Filter,
                                                      const std::string& Folder) {
  OpenTitles << Title;
  OpenFilters.push_back(Filter);
  OpenFolders.push_back(Folder);
  if (OpenAnswers.empty()) return std::nullopt;
  auto answer = OpenAnswers.front();
  OpenAnswers.pop_front();
  return answer;
}

std::optional<TSaveAnswer> TTestServices::SavePicture(QWidget*, const std::string& Filter, const std::string& DefaultExt,
                                                      const std::string& InitialName) {
  SaveFilters.push_back(Filter);
  SaveDefaultExts.push_back(DefaultExt);
  SaveInitialNames.push_back(InitialName);
  if (SaveAnswers.empty()) return std::nullopt;
  auto answer = SaveAnswers.front();
  SaveAnswers.pop_front();
  return answer;
}

std::optional<raster::TColor> TTestServices::ChooseColor(QWidget*, raster::TColor Initial) {
  ColorInitials.push_back(Initial);
  if (ColorAnswers.empty()) return std::nullopt;
  auto answer = ColorAnswers.front();
  ColorAnswers.pop_front();
  return answer;
}

void TTestServices::PushBusyPointer() {
  ++BusyDepth;
  ++BusyPushes;
}

void TTestServices::PopBusyPointer() { --BusyDepth; }

void TTestServices::ShowError(QWidget*, const QString& Title, const QString& Message) {
  ErrorTitles << Title;
  Errors << Message;
}

void TTestServices::OpenDocument(const QString& Text) { OpenedDocuments << Text; }

TDataFolder::TDataFolder() {
  fs::copy(fs::path(QUIRLON_SOURCE_DIR) / "data", fs::path(Path()), fs::copy_options::recursive);
  // Every template needs its preview picture and the about box its files; a bundle that lacks
  // one gets a plain stand-in so that the window starts.
  raster::TBitmap32 plain;
  plain.SetSize(40, 30);
  plain.Clear(0xFF808890u);
  for (const std::string& name : Templates()) {
    const std::string display = name.size() > 4 ? name.substr(0, name.size() - 4) : std::string();
    const std::string preview = File("Pics/" + display + ".jpg");
    if (!fs::exists(preview)) imagefiles::SaveJpg(plain, preview, 96);
  }
  fs::create_directories(File("Data"));
  if (!fs::exists(File("Data/SkinName.dat"))) Write("Data/SkinName.dat", "Blue Steel\n");
  if (!fs::exists(File("Data/About.dat"))) Write("Data/About.dat", "Quirlon\nBox shots from flat artwork\n");
  if (!fs::exists(File("Data/LinkAdr.dat"))) Write("Data/LinkAdr.dat", "https://example.org/quirlon\n");
  if (!fs::exists(File("Data/Logo.jpg"))) imagefiles::SaveJpg(plain, File("Data/Logo.jpg"), 96);
}

void TDataFolder::Write(const std::string& Relative, const std::string& Bytes) const {
  fs::create_directories(fs::path(File(Relative)).parent_path());
  std::ofstream out(File(Relative), std::ios::binary | std::ios::trunc);
  out << Bytes;
}

void TDataFolder::Remove(const std::string& Relative) const { fs::remove_all(File(Relative)); }

std::vector<std::string> TDataFolder::Templates() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(File("Templates"), ec))
    if (!entry.is_directory()) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void TDataFolder::KeepTemplates(std::size_t Count) const {
  const std::vector<std::string> names = Templates();
  for (std::size_t i = Count; i < names.size(); ++i) fs::remove(File("Templates/" + names[i]));
}

std::unique_ptr<MainWindow> MakeWindow(TTestServices& Services, const TDataFolder& Data,
                                       const std::string& ExecutableFileName) {
  return std::make_unique<MainWindow>(Services, TAppPaths{Data.Path(), ExecutableFileName, "", ""});
}

TControls::TControls(QWidget& Window) {
  toolBar = Find<QToolBar>(Window, "toolBar");
  savePicture = Find<QToolButton>(Window, "savePicture");
  about = Find<QToolButton>(Window, "about");
  templatePanel = Find<TCaptionPanel>(Window, "templatePanel");
  templateName = Find<TAutoSizeLabel>(Window, "templateName");
  templatePreview = Find<TPictureBox>(Window, "templatePreview");
  apply = Find<QPushButton>(Window, "apply");
  templateArrows = Find<TUpDown>(Window, "templateArrows");
  preview = Find<TPreviewWidget>(Window, "preview");
  outputWidth = Find<TSpinEdit>(Window, "outputWidth");
  outputHeight = Find<TSpinEdit>(Window, "outputHeight");
  outputDpi = Find<TSpinEdit>(Window, "outputDpi");
  sourcePanel = Find<TCaptionPanel>(Window, "sourcePanel");
  sourceName = Find<TAutoSizeLabel>(Window, "sourceName");
  sourceClearPicture = Find<TPictureBox>(Window, "sourceClearPicture");
  sourcePicture = Find<TPictureBox>(Window, "sourcePicture");
  sourceColour = Find<TColorSelect>(Window, "sourceColour");
  sourceArrows = Find<TUpDown>(Window, "sourceArrows");
  transparentBackground = Find<QCheckBox>(Window, "transparentBackground");
  largeDiscArea = Find<QCheckBox>(Window, "largeDiscArea");
  flipWhenSaved = Find<QCheckBox>(Window, "flipWhenSaved");
  saveQuality = Find<TSpinEdit>(Window, "saveQuality");
  pngEffort = Find<QComboBox>(Window, "pngEffort");
  webpLossless = Find<QCheckBox>(Window, "webpLossless");
  effectPages = Find<QTabWidget>(Window, "effectPages");
  showReflections = Find<QCheckBox>(Window, "showReflections");
  fadeReflections = Find<QCheckBox>(Window, "fadeReflections");
  reflectionOpacity = Find<TTrackBar>(Window, "reflectionOpacity");
  reflectionLength = Find<TTrackBar>(Window, "reflectionLength");
  reflectionBrightness = Find<TTrackBar>(Window, "reflectionBrightness");
  reflectionBlur = Find<TTrackBar>(Window, "reflectionBlur");
  showShadows = Find<QCheckBox>(Window, "showShadows");
  shadowDensity = Find<TTrackBar>(Window, "shadowDensity");
  shadowColour = Find<TColorSelect>(Window, "shadowColour");
  shadowBlur = Find<TTrackBar>(Window, "shadowBlur");
  shadingStrength = Find<TTrackBar>(Window, "shadingStrength");
  shadingColour = Find<TColorSelect>(Window, "shadingColour");
  highlightStrength = Find<TTrackBar>(Window, "highlightStrength");
  highlightColour = Find<TColorSelect>(Window, "highlightColour");
  resamplerList = Find<QComboBox>(Window, "resamplerList");
  kernelList = Find<QComboBox>(Window, "kernelList");
  widthLabel = Find<TAutoSizeLabel>(Window, "widthLabel");
  heightLabel = Find<TAutoSizeLabel>(Window, "heightLabel");
  dpiLabel = Find<TAutoSizeLabel>(Window, "dpiLabel");
  opacityLabel = Find<TAutoSizeLabel>(Window, "opacityLabel");
  reflectionBlurLabel = Find<TAutoSizeLabel>(Window, "reflectionBlurLabel");
  shadowBlurLabel = Find<TAutoSizeLabel>(Window, "shadowBlurLabel");
}

void ShowWindow(QWidget& Window) {
  Window.show();
  Window.activateWindow();
  QVERIFY(QTest::qWaitForWindowExposed(&Window));
  QVERIFY(QTest::qWaitForWindowActive(&Window));
}

namespace {

// A 32 x 32 gradient written once per test run, so the window tests need nothing beside the
// repository; Alpha gives every pixel a different opacity.
std::string TestPicture(const char* Name, bool Alpha) {
  static QTemporaryDir folder;
  const std::string path = folder.filePath(Name).toStdString();
  if (!fs::exists(path)) {
    raster::TBitmap32 b;
    b.SetSize(32, 32);
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x)
        b.Bits()[y * 32 + x] = raster::Color32(static_cast<std::uint8_t>(x * 8), static_cast<std::uint8_t>(y * 8), 128,
                                               Alpha ? static_cast<std::uint8_t>(255 - x * 4 - y * 3) : 255);
    imagefiles::SavePng(b, path, 96);
  }
  return path;
}

}  // namespace

std::string GoodPicture() { return TestPicture("gradient.png", false); }
std::string GoodPicture2() { return TestPicture("gradient-alpha.png", true); }

std::string BrokenPicture(const TDataFolder& Data) {
  Data.Write("broken.png", "\x89PNG\r\n\x1a\nthis is not a picture");
  return Data.File("broken.png");
}

std::vector<std::string> LayerTypesOf(const std::string& IniFile) {
  std::ifstream in(IniFile);
  std::vector<std::string> types;
  std::string line;
  bool inLayer = false;
  auto trim = [](std::string s) {
    const auto b = s.find_first_not_of(" \t\r");
    const auto e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
  };
  std::size_t sectionStart = 0;
  while (std::getline(in, line)) {
    line = trim(line);
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      if (inLayer && types.size() == sectionStart) types.push_back("unknown");
      inLayer = line.find("Layer") != std::string::npos;
      sectionStart = types.size();
      continue;
    }
    const auto eq = line.find('=');
    if (!inLayer || eq == std::string::npos) continue;
    std::string key = trim(line.substr(0, eq));
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    if (key == "type" && types.size() == sectionStart) {
      std::string value = trim(line.substr(eq + 1));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
      types.push_back(value);
    }
  }
  if (inLayer && types.size() == sectionStart) types.push_back("unknown");
  return types;
}

void SetOutputSize(MainWindow& Window, int Width, int Height) {
  const QSignalBlocker quietWidth(Ui(Window).outputWidth);
  const QSignalBlocker quietHeight(Ui(Window).outputHeight);
  Ui(Window).outputWidth->setValue(Width);
  Ui(Window).outputHeight->setValue(Height);
}

void PressOnArrows(MainWindow& Window, int Key, Qt::KeyboardModifiers Modifiers) {
  Ui(Window).templateArrows->setFocus();
  QTest::keyClick(Ui(Window).templateArrows, static_cast<Qt::Key>(Key), Modifiers);
}

void Settle(MainWindow& Window) {
  if (!Window.WaitForRender()) QFAIL("the render did not arrive");
}

void TWindowUnderTest::Open(bool Shown) {
  Services = TTestServices{};
  Window.reset();
  Data = std::make_unique<TDataFolder>();
  Window = MakeWindow(Services, *Data);
  if (Shown) ShowWindow(*Window);
}

void TWindowUnderTest::Close(bool Busy, bool Errors) {
  if (Busy) QCOMPARE(Services.BusyDepth, 0);
  if (Errors) QVERIFY2(Services.Errors.isEmpty(), qPrintable(Services.Errors.join(QLatin1Char('\n'))));
  Window.reset();
  Data.reset();
}

}  // namespace quirlon::app::test
