#pragma once
// What the window tests share: the test-class registry, the replaced platform services (dialog
// answers, pointer and error records), a copy of the bundled data in a temporary folder, and the
// fresh-start helper.
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

#include "app/Platform.h"
#include "app/MainWindow.h"

namespace quirlon::app::test {

using TSuiteFactory = std::function<std::unique_ptr<QObject>()>;
std::vector<std::pair<QString, TSuiteFactory>>& Registry();
struct TRegister {
  TRegister(const char* Name, TSuiteFactory Factory) { Registry().emplace_back(QString::fromLatin1(Name), std::move(Factory)); }
};
#define QUIRLON_APP_TEST(Class) \
  static const ::quirlon::app::test::TRegister kRegister##Class(#Class, [] { return std::make_unique<Class>(); })

// The platform services as a test answers them: queued dialog answers (an empty queue cancels),
// and a record of everything shown.
class TTestServices : public TWindowServices {
public:
  std::deque<std::optional<std::string>> OpenAnswers;
  std::deque<std::optional<TSaveAnswer>> SaveAnswers;
  std::deque<std::optional<raster::TColor>> ColorAnswers;

  QStringList OpenTitles;
  std::vector<std::string> OpenFilters, OpenFolders, SaveFilters, SaveDefaultExts, SaveInitialNames;
  std::vector<raster::TColor> ColorInitials;
  int BusyDepth = 0;
  int BusyPushes = 0;
  QStringList ErrorTitles, Errors;
  QStringList OpenedDocuments;

  std::optional<std::string> OpenPicture(QWidget*, const QString& Title, const std::string& Filter,
                                         const std::string& Folder = {}) override;
  std::optional<TSaveAnswer> SavePicture(QWidget*, const std::string& Filter, const std::string& DefaultExt,
                                         const std::string& InitialName) override;
  std::optional<raster::TColor> ChooseColor(QWidget*, raster::TColor Initial) override;
  void PushBusyPointer() override;
  void PopBusyPointer() override;
  void ShowError(QWidget*, const QString& Title, const QString& Message) override;
  void OpenDocument(const QString& Text) override;
};

// A copy of the repository's data folder in a temporary folder. What a test needs beyond the
// bundled files (a preview picture or a data file the bundle lacks) is added, never replaced.
class TDataFolder {
public:
  TDataFolder();
  // Ends in "/".
  std::string Path() const { return fDir.path().toStdString() + "/"; }
  std::string File(const std::string& Relative) const { return Path() + Relative; }
  void Write(const std::string& Relative, const std::string& Bytes) const;
  void Remove(const std::string& Relative) const;
  // The template file names in listing order (byte-wise sorted, files only).
  std::vector<std::string> Templates() const;
  // Keeps only the first Count templates.
  void KeepTemplates(std::size_t Count) const;

private:
  QTemporaryDir fDir;
};

// A window over Data, named after ExecutableFileName.
std::unique_ptr<MainWindow> MakeWindow(TTestServices& Services, const TDataFolder& Data,
                                   const std::string& ExecutableFileName = "/opt/quirlon/maker.exe");
// The window's controls, found by their object names (a missing one fails the test that uses it).
struct TControls {
  explicit TControls(QWidget& Window);
  QToolBar* toolBar;
  QToolButton* savePicture;
  QToolButton* about;
  TCaptionPanel* templatePanel;
  TAutoSizeLabel* templateName;
  TPictureBox* templatePreview;
  QPushButton* apply;
  TUpDown* templateArrows;
  TPreviewWidget* preview;
  TSpinEdit* outputWidth;
  TSpinEdit* outputHeight;
  TSpinEdit* outputDpi;
  TCaptionPanel* sourcePanel;
  TAutoSizeLabel* sourceName;
  TPictureBox* sourceClearPicture;
  TPictureBox* sourcePicture;
  TColorSelect* sourceColour;
  TUpDown* sourceArrows;
  QCheckBox* transparentBackground;
  QCheckBox* largeDiscArea;
  QCheckBox* flipWhenSaved;
  TSpinEdit* saveQuality;
  QComboBox* pngEffort;
  QCheckBox* webpLossless;
  QTabWidget* effectPages;
  QCheckBox* showReflections;
  QCheckBox* fadeReflections;
  TTrackBar* reflectionOpacity;
  TTrackBar* reflectionLength;
  TTrackBar* reflectionBrightness;
  TTrackBar* reflectionBlur;
  QCheckBox* showShadows;
  TTrackBar* shadowDensity;
  TColorSelect* shadowColour;
  TTrackBar* shadowBlur;
  TTrackBar* shadingStrength;
  TColorSelect* shadingColour;
  TTrackBar* highlightStrength;
  TColorSelect* highlightColour;
  QComboBox* resamplerList;
  QComboBox* kernelList;
  TAutoSizeLabel* widthLabel;
  TAutoSizeLabel* heightLabel;
  TAutoSizeLabel* dpiLabel;
  TAutoSizeLabel* opacityLabel;
  TAutoSizeLabel* reflectionBlurLabel;
  TAutoSizeLabel* shadowBlurLabel;

private:
  template <class T>
  static T* Find(QWidget& Window, const char* Name) {
    T* found = Window.findChild<T*>(QString::fromLatin1(Name));
    if (found == nullptr) qFatal("no control named %s", Name);
    return found;
  }
};
inline TControls Ui(QWidget& Window) { return TControls(Window); }

// Waits until the window shows the render of its current values (renders run on a worker).
void Settle(MainWindow& Window);
// Sets the output size fields without the renders their changes would start.
void SetOutputSize(MainWindow& Window, int Width, int Height);
// A key pressed on the template arrows, which hold no text a key could edit.
void PressOnArrows(MainWindow& Window, int Key, Qt::KeyboardModifiers Modifiers = Qt::NoModifier);

// Shows the window and waits until it is exposed and active (for keyboard and mouse tests).
void ShowWindow(QWidget& Window);

// What most window tests set up before each test and take down after it: a window over a fresh
// data folder, its dialogs answered by the test.
struct TWindowUnderTest {
  TTestServices Services;
  std::unique_ptr<TDataFolder> Data;
  std::unique_ptr<MainWindow> Window;
  // A new data folder and window, shown and active unless Shown is false.
  void Open(bool Shown = true);
  // Fails the test when a busy pointer was left shown (Busy) or an error was shown (Errors), then
  // closes the window and removes the folder.
  void Close(bool Busy = true, bool Errors = false);
};

// A picture that loads (PNG from the shared test data) and one that does not.
std::string GoodPicture();
std::string GoodPicture2();
std::string BrokenPicture(const TDataFolder& Data);

// The "type" of each layer section (a section whose name contains "Layer") of an INI text, in
// file order, read here without the program's reader.
std::vector<std::string> LayerTypesOf(const std::string& IniFile);

}  // namespace quirlon::app::test
