#pragma once
// The main window: template chooser, preview, source panel, output size and the effect pages.
// The window keeps its own state (TWindowState); every change stores its value there and then
// renders the whole picture again through the render call, switches layers on or off, or does
// nothing more. Errors raised inside a handler end it and are shown by the standard error report;
// the window stays usable.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QStringList>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUndoStack>
#include <QWidget>

#include "app/Controls.h"
#include "app/Platform.h"
#include "app/RenderWorker.h"
#include "app/Skin.h"
#include "core/Job.h"
#include "core/ProductJob.h"
#include "core/Render.h"
#include "view/ImgView32.h"

namespace quirlon::app {

class AboutDialog;
class ProductPage;

// Where the window finds its data and what it is called: the folder beside the executable and
// the executable's path, unless a caller (a test) names others.
struct TAppPaths {
  std::string DataFolder;          // ends in a separator; "Templates/", "Pics/", ... are appended
  std::string ExecutableFileName;  // the window is titled after it
  std::string UserTemplatesFolder;  // the user's own templates, listed after the bundled ones; "" for none
  // Where the window's values are kept between runs (an INI file); "" remembers nothing.
  std::string SettingsFile;

  static TAppPaths BesideExecutable();
};

// The names the source panel shows for slots 1..9 ("FRONT 2" with a space, unlike the template
// source names); "" for any other slot.
QString SlotCaption(std::int32_t Slot);

// The program's icon: a box standing on its reflection.
QIcon ApplicationIcon();

// The save dialog's filter list: one entry per output format in the writers' table, PNG first
// ("PNG Image (*.png)|*.png|JPEG Image (*.jpg;*.jpeg;*.jpe;*.jfif)|*.jpg;*.jpeg;*.jpe;*.jfif|...").
std::string SaveFilter();
// File as saved after the dialog's entry Filter was chosen: unchanged when its extension names an
// output format, otherwise with that entry's first extension added ("shot" and WebP: "shot.webp").
std::string NameWithFilterExtension(const std::string& File, std::size_t Filter);

// "Data/SkinName.dat" without a line.
inline constexpr const char* kEmptySkinFile = "Skin file \"%s\" is empty: its first line must name the skin";

// Everything the user has chosen; kept between runs when the paths name a settings file.
struct TWindowState {
  std::int32_t Template = 1;     // 1-based entry of the template list
  std::int32_t CurrentSlot = 1;  // the slot the source panel shows, 1..9
  core::TRenderSettings Settings;
  core::TSlotSources Sources = core::DefaultSlotSources();
  // The picture last chosen for each slot (slot 1 at index 0); kept when the slot takes a colour,
  // so the panel can still show it.
  std::array<std::string, core::kSlotCount> SlotFiles;
  bool TransparentBackground = false;
  bool LargeDiscArea = false;
  // The product of the "Product" page; without a kind the chosen template renders.
  core::TProductJob Product;
};

// The values one step of undo brings back: the state's settings, switches, template and sources
// and the output fields.
struct TUndoableValues {
  std::int32_t Template = 1;
  core::TRenderSettings Settings;
  core::TSlotSources Sources;
  std::array<std::string, core::kSlotCount> SlotFiles;
  bool TransparentBackground = false;
  bool LargeDiscArea = false;
  std::int32_t Width = 0, Height = 0, Dpi = 0;
  core::TProductJob Product;
  friend bool operator==(const TUndoableValues&, const TUndoableValues&) = default;
};

class MainWindow : public QWidget {
  Q_OBJECT
public:
  // Builds the layout and runs the start-up steps.
  MainWindow(TWindowServices& Services, TAppPaths Paths, QWidget* Parent = nullptr);
  ~MainWindow() override;

  void SetAboutBox(AboutDialog* AboutBox) { fAboutBox = AboutBox; }

  const TWindowState& State() const { return fState; }
  // The last finished render; empty before the first.
  const core::TRenderResult& Result() const { return fResult; }
  // The template layers' types of the last render, in file order.
  std::vector<std::string> LayerKinds() const;
  // The preview's view model.
  view::TImgView32& View();
  TSkinManager& SkinManager() { return fSkinManager; }
  const TAppPaths& Paths() const { return fPaths; }
  // Renders handed to the worker so far (failed and superseded ones included).
  int RenderCount() const { return fRenderCount; }
  // Whether a change waits for its render or a render is on its way.
  bool RenderPending() const { return fRenderTimer->isActive() || fRenderWorker->Pending(); }
  // Hands a change still waiting to the worker at once, then keeps the event loop running until
  // the newest render is shown or has failed. False when TimeoutMs passed first.
  bool WaitForRender(int TimeoutMs = 120000);

  QUndoStack& UndoStack() { return *fUndoStack; }
  TUndoableValues UndoableValues() const;
  // Shows Values in the controls without recording a step, and renders them.
  void RestoreValues(const TUndoableValues& Values);

  // The job the window's values describe: template or product, sources, settings, switches, size
  // and the save options (no output file).
  core::TJob CurrentJob() const;
  // How a scene names the chosen template: its display name.
  std::string TemplateRef() const;
  // Writes the window's values as a scene file (files relative to its folder).
  void SaveScene(const std::string& File);
  // Shows and renders the values of the scene File as one undo step; a file that cannot be read
  // or a value it refuses is reported and nothing changes.
  void OpenScene(const std::string& File);
  // Files handed to the program (its command line, the desktop's "Open with"): a scene opens as a
  // scene, anything else as the FRONT picture.
  void OpenFiles(const QStringList& Files);
  // Keeps the values, the window's place and the dialogs' folders in the settings file.
  void SaveSettings();
  QStatusBar* StatusBar() { return fStatusBar; }

  // The standard error report for an error that ended a handler.
  void ReportError(const std::exception& Error);

  // "Save as template..." once named: the product as Name.ini in the user template folder, then
  // listed and chosen in the chooser. Refuses a name that is empty, holds a folder separator or
  // starts with a dot, and a file that exists already.
  void SaveProductTemplate(const std::string& Name);
  // "Split full cover wrap..." once a file is chosen: the wrap's back, spine and front go to the
  // product's slots, its trim and spine taken from the page's size fields.
  void SplitCoverWrap(const std::string& WrapFile);

signals:
  // After every render that finished, with the canvas size it rendered.
  void Rendered(int Width, int Height);

protected:
  void closeEvent(QCloseEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

private:
  void BuildLayout();
  void ConnectHandlers();
  void StartUp();
  // Runs a handler, reporting what it raises.
  void Guarded(const std::function<void()>& Handler);
  // Runs a handler of a control and records the change of values it made as one undo step;
  // changes with the same MergeId in a row (a drag, typing in one field) become one step.
  void Recorded(const std::function<void()>& Handler, int MergeId);

  // Hands the state at the size in the fields to the render worker now; the result is shown when
  // it arrives. Errors of building the request (a product the model refuses) are raised here.
  void Render();
  // A render soon: changes that come in a burst (a drag, keys held, typing) become one request.
  void RequestRender();
  void ReceiveRender(const TRenderOutcome& Outcome);
  void UpdateBusyPointer();
  // Shows fResult; Frame, painted by the worker, is what the preview shows while it fits.
  void ShowResult(const std::shared_ptr<TPreviewFrame>& Frame);
  // What the preview's picture depends on now, besides the render.
  TPreviewLook PreviewLook();
  // The current slot's name, colour and, while the slot uses it, its picture (Loaded when the
  // caller has it decoded already).
  void ShowCurrentSlot(const QImage* Loaded = nullptr);
  void StepSlot();
  void ChooseSourcePicture();
  // Loads FileName for Slot first; only a picture that loaded is stored, shown and rendered.
  void AssignSourcePicture(std::int32_t Slot, const std::string& FileName);
  void UseSourceColour();
  // The current slot forgets its picture and shows its colour.
  void ClearSourcePicture();
  void StepTemplate();
  void ShowTemplateName(const QString& Name);
  // The bundled templates, then the user's own, as full paths in the chooser's order.
  std::vector<std::string> TemplateFiles() const;
  void SizeChanged(TSpinEdit* Field);
  // The reflection or shadow switch: layers shown or hidden by their role, without a render.
  void SetSwitchVisible(core::TLayerSwitch Switch, bool Visible);
  void ResamplerChosen();
  void KernelChosen();
  void SavePicture();
  // The window's keys: save, previous / next template, apply, copy.
  void BuildShortcuts();
  // The flattened picture of the last render on the clipboard (rendered first when none is shown
  // or a change waits).
  void CopyPicture();
  // The flattened render of the values shown now: waits for a change still waiting or a render on
  // its way, renders when nothing was rendered yet. Null when that render failed (reported).
  std::unique_ptr<raster::TBitmap32> CurrentPicture();
  void ShowAbout();
  // Shows Job's values in the controls and renders them (no undo step of its own). Throws, with
  // nothing changed, for a template the chooser does not list.
  void ApplyJob(const core::TJob& Job);
  // The chooser's number of the template Ref names: a number, a display name or a listed file.
  std::int32_t TemplateNumber(const std::string& Ref) const;
  // Takes out of Job the source pictures that cannot be opened now; their names.
  QStringList DropMissingPictures(core::TJob& Job) const;
  void RestoreSettings();
  void AskSaveScene();
  void AskOpenScene();
  // Product is rendered and kept; a value the model refuses leaves the state and the page as
  // they were and is reported.
  void ApplyProduct(const core::TProductJob& Product);
  void AskProductTemplateName();

  TWindowServices& fServices;
  TAppPaths fPaths;
  AboutDialog* fAboutBox = nullptr;
  TWindowState fState;
  core::TRenderResult fResult;
  // Source pictures decoded once and reused by the renders that follow while their files stay as they were.
  imagefiles::TPictureCache fPictures;
  TSkinManager fSkinManager;
  std::string fLastSaveName;
  std::string fLastOpenFolder;   // where the open dialogs start
  std::string fLastSceneName;
  int fRenderCount = 0;
  TRenderWorker* fRenderWorker;
  QTimer* fRenderTimer;  // the burst of changes that becomes one request
  QTimer* fBusyTimer;    // the busy pointer shows only for renders longer than a moment
  bool fBusyShown = false;
  std::uint64_t fShownGeneration = 0;  // the render the preview shows
  bool fSaving = false;                // a save waits for its render or its encoder
  bool fFlattening = false;            // a save's picture is flattened on another thread
  QUndoStack* fUndoStack;
  bool fRestoring = false;  // undo or redo sets the controls: their handlers stay out
  int fDragMergeId = -1;    // while a bar is dragged, the id its steps merge under
  int fDragCount = 0;
  TUndoableValues fRecordedValues;  // the values after the last recorded step

  // Controls; each widget's objectName is its field name without the "f".
  QToolBar* fToolBar;
  QToolButton* fSavePicture;
  QToolButton* fAbout;
  QToolButton* fOpenScene;
  QToolButton* fSaveScene;
  TCaptionPanel* fTemplatePanel;
  TAutoSizeLabel* fTemplateName;
  TPictureBox* fTemplatePreview;
  QPushButton* fApply;
  TUpDown* fTemplateArrows;
  TPreviewWidget* fPreview;
  TSpinEdit* fOutputWidth = nullptr;
  TSpinEdit* fOutputHeight;
  TSpinEdit* fOutputDpi;
  TCaptionPanel* fSourcePanel;
  TAutoSizeLabel* fSourceName;
  TPictureBox* fSourceClearPicture;
  TPictureBox* fSourcePicture;
  TAutoSizeLabel* fSourceUse;  // what the slot shows: its picture or its colour
  QToolButton* fSourceClear;   // forgets the slot's picture
  TColorSelect* fSourceColour;
  TUpDown* fSourceArrows;
  QCheckBox* fTransparentBackground;
  QCheckBox* fLargeDiscArea;
  QCheckBox* fFlipWhenSaved;
  TSpinEdit* fSaveQuality;     // JPEG and WebP
  QComboBox* fPngEffort;       // in TPngEffort's order
  QCheckBox* fWebpLossless;
  QTabWidget* fEffectPages;
  QStatusBar* fStatusBar = nullptr;
  QCheckBox* fShowReflections;
  QCheckBox* fFadeReflections;
  TTrackBar* fReflectionOpacity;
  TTrackBar* fReflectionLength;
  TTrackBar* fReflectionBrightness;
  TTrackBar* fReflectionBlur;
  QCheckBox* fShowShadows;
  TTrackBar* fShadowDensity;
  TColorSelect* fShadowColour;
  TTrackBar* fShadowBlur;
  TTrackBar* fShadingStrength;
  TColorSelect* fShadingColour;
  TTrackBar* fHighlightStrength;
  TColorSelect* fHighlightColour;
  QComboBox* fSampling;  // how face pictures are sampled: smooth or exact
  QComboBox* fFit;       // how pictures fit faces of other proportions
  QLabel* fArtFitNote;   // the pictures whose proportions differ from their faces'
  QComboBox* fResamplerList;
  QComboBox* fKernelList;
  ProductPage* fProductPage;
};

}  // namespace quirlon::app
