#include "app/MainWindow.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <tuple>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QShortcut>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QInputDialog>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalBlocker>
#include <QUndoCommand>

#include "app/AboutDialog.h"
#include "app/BackgroundTask.h"
#include "app/ProductPage.h"
#include "core/Job.h"
#include "core/Platform.h"
#include "core/ProductError.h"
#include "core/SceneFile.h"
#include "core/Template.h"
#include "imagefiles/OutputWriters.h"
#include "imagefiles/Picture.h"
#include "imagefiles/SafeFile.h"
#include "raster/Errors.h"
#include "raster/Kernels.h"
#include "view/LayerResamplers.h"
#include "raster/Resamplers.h"

namespace quirlon::app {

namespace {

// The toolbar's two icons: a pencil for saving, a blue plus sign for the about box.
QIcon PencilIcon() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath body;
  body.moveTo(3, 11);
  body.lineTo(11, 3);
  body.lineTo(13, 5);
  body.lineTo(5, 13);
  body.closeSubpath();
  p.fillPath(body, QColor(232, 176, 40));
  p.setPen(QPen(QColor(90, 60, 10), 1));
  p.drawPath(body);
  QPainterPath tip;
  tip.moveTo(3, 11);
  tip.lineTo(5, 13);
  tip.lineTo(2, 14);
  tip.closeSubpath();
  p.fillPath(tip, QColor(60, 60, 60));
  p.fillRect(QRectF(11, 2, 2.5, 2.5), QColor(220, 110, 120));
  return QIcon(pixmap);
}

QIcon PlusIcon() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  const QColor blue(40, 90, 200);
  p.fillRect(6, 2, 4, 12, blue);
  p.fillRect(2, 6, 12, 4, blue);
  return QIcon(pixmap);
}

// One change of the window's values; pushed after the change was made, so its first redo does nothing.
class TValuesCommand : public QUndoCommand {
public:
  TValuesCommand(MainWindow& Window, TUndoableValues Before, TUndoableValues After, int MergeId)
      : fWindow(Window), fBefore(std::move(Before)), fAfter(std::move(After)), fMergeId(MergeId) {}
  int id() const override { return fMergeId; }
  // Called only for the same id: the later command's end becomes this one's.
  bool mergeWith(const QUndoCommand* Other) override {
    fAfter = static_cast<const TValuesCommand*>(Other)->fAfter;
    return true;
  }
  void undo() override { fWindow.RestoreValues(fBefore); }
  void redo() override {
    if (fPushed) fWindow.RestoreValues(fAfter);
    fPushed = true;
  }

private:
  MainWindow& fWindow;
  TUndoableValues fBefore, fAfter;
  int fMergeId;
  bool fPushed = false;
};

// Merge ids: typing in one number field; each drag takes its own id above these.
constexpr int kWidthTyping = 1, kHeightTyping = 2, kDpiTyping = 3, kFirstDragId = 16;

// Changes closer together than this become one render; short enough that a drag looks live.
constexpr int kRenderDelayMs = 30;
// A render or save that ends sooner than this shows no busy pointer.
constexpr int kBusyDelayMs = 150;
// The template's name in the chooser: its designed size, and the smallest it shrinks to.
constexpr int kTemplateNamePixels = 19;
constexpr int kSmallestTemplateNamePixels = 11;
// The window at its smallest: the designed layout with the status bar under it.
constexpr int kDesignWidth = 633, kDesignHeight = 523, kStatusBarHeight = 20;
// Scene files as the dialogs offer them.
constexpr const char* kSceneFilter = "Scene (*.json)|*.json";

template <class W>
W* Place(W* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(left, top, width, height);
  return widget;
}

TAutoSizeLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top, int width,
                          int height, int pixels = 0) {
  auto* label = new TAutoSizeLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  if (pixels > 0) label->setFont(SansFont(pixels));
  label->Place(left, top, width, height);
  return label;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const QString& text, bool checked, int left, int top,
                        int width, int height) {
  auto* box = Place(new QCheckBox(text, parent), name, left, top, width, height);
  box->setChecked(checked);
  // The style's indicator may be wider than the designed one: the caption keeps its room.
  box->resize(qMax(width, box->sizeHint().width()), height);
  return box;
}

QFrame* MakeBevel(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* bevel = Place(new QFrame(parent), name, left, top, width, height);
  bevel->setFrameStyle(QFrame::Box | QFrame::Raised);
  return bevel;
}

}  // namespace

QIcon ApplicationIcon() {
  QPixmap pixmap(64, 64);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  auto quad = [&p](std::initializer_list<QPointF> points, const QBrush& brush) {
    p.setBrush(brush);
    p.drawPolygon(QPolygonF(QList<QPointF>(points)));
  };
  QLinearGradient front(0, 6, 0, 46);
  front.setColorAt(0, QColor(0x4f, 0x86, 0xd9));
  front.setColorAt(1, QColor(0x24, 0x4f, 0x98));
  QLinearGradient floor(0, 44, 0, 60);
  floor.setColorAt(0, QColor(0x4f, 0x86, 0xd9, 115));
  floor.setColorAt(1, QColor(0x4f, 0x86, 0xd9, 0));
  quad({{12, 10}, {38, 6}, {38, 44}, {12, 46}}, front);
  quad({{38, 6}, {52, 12}, {52, 42}, {38, 44}}, QColor(0x1b, 0x3a, 0x70));
  quad({{12, 46}, {38, 44}, {38, 60}, {12, 58}}, floor);
  quad({{38, 44}, {52, 42}, {52, 54}, {38, 60}}, QColor(0x1b, 0x3a, 0x70, 64));
  quad({{16, 16}, {34, 13}, {34, 24}, {16, 26}}, QColor(255, 255, 255, 217));
  return QIcon(pixmap);
}

TAppPaths TAppPaths::BesideExecutable() {
  return {core::ExecutableFolder(), core::ExecutableFileName(), core::UserTemplatesFolder(), {}};
}

std::vector<std::string> MainWindow::TemplateFiles() const {
  return core::ListTemplateLibrary(fPaths.DataFolder + core::kTemplatesFolder, fPaths.UserTemplatesFolder);
}

QString SlotCaption(std::int32_t Slot) {
  const core::TSlotInfo* info = core::FindSlot(Slot);
  if (info == nullptr) return {};
  return QString::fromLatin1(info->Caption.data(), static_cast<qsizetype>(info->Caption.size()));
}

MainWindow::MainWindow(TWindowServices& Services, TAppPaths Paths, QWidget* Parent)
    : QWidget(Parent), fServices(Services), fPaths(std::move(Paths)) {
  fRenderWorker = new TRenderWorker(this);
  fRenderTimer = new QTimer(this);
  fRenderTimer->setSingleShot(true);
  fRenderTimer->setInterval(kRenderDelayMs);
  fBusyTimer = new QTimer(this);
  fBusyTimer->setSingleShot(true);
  fBusyTimer->setInterval(kBusyDelayMs);
  fUndoStack = new QUndoStack(this);
  BuildLayout();
  StartUp();
  ConnectHandlers();
  BuildShortcuts();
  ShowCurrentSlot();
  RestoreSettings();
  fRecordedValues = UndoableValues();
}

MainWindow::~MainWindow() {
  try {
    SaveSettings();
  } catch (const std::exception&) {
    // Not remembering is no reason to stop closing.
  }
  // A render still running uses the picture cache, a member: it ends before the members go.
  delete fRenderWorker;
  fRenderWorker = nullptr;
  if (fBusyShown) fServices.PopBusyPointer();
  // The controls outlive this body (QWidget frees them later) and may still signal while the
  // window goes away, a number field losing the focus for one: no handler may run from here on.
  for (QObject* child : findChildren<QObject*>()) QObject::disconnect(child, nullptr, this, nullptr);
}

view::TImgView32& MainWindow::View() { return fPreview->View(); }

std::vector<std::string> MainWindow::LayerKinds() const {
  std::vector<std::string> kinds;
  for (const core::TRenderedLayer& layer : fResult.Layers)
    if (!layer.Role.Background) kinds.push_back(layer.Role.TypeText);
  return kinds;
}

void MainWindow::BuildLayout() {
  setObjectName(QStringLiteral("mainWindow"));
  setWindowTitle(ApplicationTitle());
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  // The designed layout is the smallest size; the preview takes what the window grows by.
  setWindowFlag(Qt::WindowMaximizeButtonHint, true);
  setMinimumSize(kDesignWidth, kDesignHeight + kStatusBarHeight);
  resize(minimumSize());
  move(312, 222);
  setFont(SansFont(11));
  setBackgroundRole(QPalette::Button);
  setAutoFillBackground(true);

  fToolBar = Place(new QToolBar(this), "toolBar", 0, 0, 633, 49);
  fToolBar->setMovable(false);
  fToolBar->setFloatable(false);
  fToolBar->setIconSize(QSize(16, 16));
  fSavePicture = Place(new QToolButton(fToolBar), "savePicture", 0, 2, 71, 36);
  fSavePicture->setText(QStringLiteral("Save picture"));
  fSavePicture->setIcon(PencilIcon());
  fAbout = Place(new QToolButton(fToolBar), "about", 71, 2, 67, 36);
  fAbout->setText(QStringLiteral("About..."));
  fAbout->setIcon(PlusIcon());
  // How pictures are saved, beside the button that saves them.
  MakeLabel(fToolBar, "saveQualityLabel", QStringLiteral("Quality:"), 150, 13, 44, 14);
  fSaveQuality = Place(new TSpinEdit(1, 100, 90, fToolBar), "saveQuality", 196, 10, 49, 21);
  fOpenScene = Place(new QToolButton(fToolBar), "openScene", 486, 2, 72, 36);
  fOpenScene->setText(QStringLiteral("Open scene..."));
  fSaveScene = Place(new QToolButton(fToolBar), "saveScene", 559, 2, 72, 36);
  fSaveScene->setText(QStringLiteral("Save scene..."));
  fSaveQuality->setToolTip(QStringLiteral("JPEG and WebP quality, 1 to 100"));
  MakeLabel(fToolBar, "pngEffortLabel", QStringLiteral("PNG:"), 256, 13, 28, 14);
  fPngEffort = Place(new QComboBox(fToolBar), "pngEffort", 286, 10, 81, 21);
  fPngEffort->addItems({QStringLiteral("Fast"), QStringLiteral("Default"), QStringLiteral("Smallest")});
  fPngEffort->setCurrentIndex(static_cast<int>(imagefiles::TPngEffort::Default));
  fPngEffort->setToolTip(QStringLiteral("PNG compression: fast, default (never larger than zlib's best), smallest"));
  fWebpLossless = MakeCheckBox(fToolBar, "webpLossless", QStringLiteral("Lossless WebP"), false, 376, 10, 100, 20);
  for (QToolButton* b : {fSavePicture, fAbout}) {
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setIconSize(QSize(16, 16));
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
  }
  for (QToolButton* b : {fOpenScene, fSaveScene}) b->setAutoRaise(true);
  for (QToolButton* b : {fSavePicture, fAbout, fOpenScene, fSaveScene}) b->setFocusPolicy(Qt::TabFocus);

  fTemplatePanel = Place(new TCaptionPanel(QStringLiteral("TOP"), this), "templatePanel", 8, 64, 153, 249);
  fTemplatePanel->setFont(SansFont(19));
  fTemplateName = MakeLabel(fTemplatePanel, "templateName", QStringLiteral("BOX1"), 8, 16, 45, 23, 19);
  auto* templateFrame = MakeBevel(fTemplatePanel, "templateFrame", 8, 56, 137, 185);
  fTemplatePreview = Place(new TPictureBox(fTemplatePanel), "templatePreview", 16, 104, 120, 90);
  fApply = Place(new QPushButton(QStringLiteral("APPLY >>"), fTemplatePanel), "apply", 40, 208, 99, 25);
  fApply->setFont(SansFont(11));
  fTemplateArrows = Place(new TUpDown(1, 1, 1, this), "templateArrows", 8, 320, 153, 33);

  fPreview = Place(new TPreviewWidget(this), "preview", 168, 56, 297, 297);
  fPreview->SyncViewport();
  // Zoom, from the preview's menu: shrunk to fit (the start), or every pixel of the picture on a
  // pixel of the screen, centred.
  auto* zoom = new QActionGroup(fPreview);
  for (const auto& [name, text, fit] : {std::tuple{"zoomFitAction", "Zoom to fit", true},
                                        std::tuple{"zoomActualAction", "Zoom 100 %", false}}) {
    auto* action = new QAction(QString::fromUtf8(text), zoom);
    action->setObjectName(QString::fromLatin1(name));
    action->setCheckable(true);
    action->setChecked(fit);
    fPreview->addAction(action);
    connect(action, &QAction::triggered, this, [this, fit = fit] {
      View().SetScale(1);
      View().SetScaleMode(fit ? view::smOptimal : view::smNormal);
    });
  }
  fPreview->setContextMenuPolicy(Qt::ActionsContextMenu);

  auto* outputPanel = Place(new QFrame(this), "outputPanel", 168, 360, 297, 57);
  outputPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  auto* widthLabel = MakeLabel(outputPanel, "widthLabel", QStringLiteral("Width:"), 8, 16, 37, 14, 12);
  fOutputWidth = Place(new TSpinEdit(32, core::kMaxJobCanvasSide, 800, outputPanel), "outputWidth", 48, 16, 49, 21);
  auto* heightLabel = MakeLabel(outputPanel, "heightLabel", QStringLiteral("Height:"), 104, 16, 40, 14, 12);
  fOutputHeight = Place(new TSpinEdit(32, core::kMaxJobCanvasSide, 600, outputPanel), "outputHeight", 144, 16, 49, 21);
  auto* dpiLabel = MakeLabel(outputPanel, "dpiLabel", QStringLiteral("DPI:"), 208, 16, 21, 13);
  fOutputDpi = Place(new TSpinEdit(60, 600, 96, outputPanel), "outputDpi", 232, 16, 49, 21);

  fSourcePanel =
      Place(new TCaptionPanel(QStringLiteral("Click to load image"), this), "sourcePanel", 472, 64, 153, 249);
  fSourcePanel->setFont(SansFont(15));
  fSourcePanel->SetAcceptFiles(true);
  fSourceName = MakeLabel(fSourcePanel, "sourceName", SlotCaption(1), 8, 16, 120, 23, 19);
  fSourceClearPicture = Place(new TPictureBox(fSourcePanel), "sourceClearPicture", 80, 16, 33, 33);
  auto* sourceFrame = MakeBevel(fSourcePanel, "sourceFrame", 8, 56, 137, 129);
  fSourcePicture = Place(new TPictureBox(fSourcePanel), "sourcePicture", 16, 64, 121, 113);
  fSourceColour = Place(new TColorSelect(fServices, fState.Sources[0].Colour, 40, fSourcePanel),
                                 "sourceColour", 48, 192, 57, 49);
  fSourceUse = MakeLabel(fSourcePanel, "sourceUse", QString(), 8, 40, 137, 14, 11);
  fSourceClear = Place(new QToolButton(fSourcePanel), "sourceClear", 124, 58, 19, 19);
  fSourceClear->setText(QStringLiteral("\u00D7"));
  fSourceClear->hide();
  fSourcePicture->setFocusPolicy(Qt::StrongFocus);
  // The same as the clear button, on the picture itself.
  auto* clearAction = new QAction(QStringLiteral("Clear picture"), fSourcePicture);
  clearAction->setObjectName(QStringLiteral("clearPictureAction"));
  fSourcePicture->setContextMenuPolicy(Qt::ActionsContextMenu);
  fSourcePicture->addAction(clearAction);
  fSourceArrows = Place(new TUpDown(1, core::kSlotCount, 1, this),
                            "sourceArrows", 472, 320, 153, 33);

  fTransparentBackground = MakeCheckBox(this, "transparentBackground", QStringLiteral("Transparent background"), false, 480, 360, 138, 20);
  fLargeDiscArea = MakeCheckBox(this, "largeDiscArea", QStringLiteral("Large disc area"), false, 480, 384, 93, 20);

  fEffectPages = Place(new QTabWidget(this), "effectPages", 0, 416, 633, 105);
  auto* reflectionPage = new QWidget;
  reflectionPage->setObjectName(QStringLiteral("reflectionPage"));
  auto* shadowPage = new QWidget;
  shadowPage->setObjectName(QStringLiteral("shadowPage"));
  auto* objectPage = new QWidget;
  objectPage->setObjectName(QStringLiteral("objectPage"));
  fEffectPages->addTab(reflectionPage, QStringLiteral("Reflection"));
  fEffectPages->addTab(shadowPage, QStringLiteral("Shadow"));
  fEffectPages->addTab(objectPage, QStringLiteral("Object"));
  fProductPage = new ProductPage;
  fEffectPages->addTab(fProductPage, QStringLiteral("Product"));
  fEffectPages->setCurrentIndex(0);

  // Drawn above the right end of the tab strip, and clickable there.
  fFlipWhenSaved = MakeCheckBox(this, "flipWhenSaved", QStringLiteral("Flip when saved"), false, 480, 408, 97, 20);
  fFlipWhenSaved->raise();

  const core::TRenderSettings defaults;
  fShowReflections =
      MakeCheckBox(reflectionPage, "showReflections", QStringLiteral("Show"), defaults.ShowReflection, 8, 8, 46, 20);
  fFadeReflections =
      MakeCheckBox(reflectionPage, "fadeReflections", QStringLiteral("Fade"), defaults.FadeReflection, 8, 40, 44, 20);
  auto* opacityLabel = MakeLabel(reflectionPage, "opacityLabel", QStringLiteral("Opacity"), 112, 8, 37, 13);
  fReflectionOpacity = Place(new TTrackBar(0, 255, defaults.ReflectionOpacity, reflectionPage),
                                    "reflectionOpacity", 160, 4, 150, 25);
  auto* lengthLabel = MakeLabel(reflectionPage, "lengthLabel", QStringLiteral("Length"), 112, 40, 33, 13);
  fReflectionLength = Place(new TTrackBar(1, 100, defaults.ReflectionLength, reflectionPage),
                                   "reflectionLength", 160, 35, 150, 25);
  auto* brightnessLabel = MakeLabel(reflectionPage, "brightnessLabel", QStringLiteral("Brightness"), 360, 8, 50, 13);
  fReflectionBrightness = Place(new TTrackBar(-50, 50, defaults.ReflectionBrightness, reflectionPage),
                                       "reflectionBrightness", 424, 5, 150, 25);
  auto* reflectionBlurLabel = MakeLabel(reflectionPage, "reflectionBlurLabel", QStringLiteral("Blur reflections"), 339, 40, 71, 13);
  fReflectionBlur =
      Place(new TTrackBar(0, 100, defaults.ReflectionBlur, reflectionPage), "reflectionBlur", 424, 35, 150, 25);

  fShowShadows =
      MakeCheckBox(shadowPage, "showShadows", QStringLiteral("Show"), defaults.ShowShadow, 8, 32, 54, 19);
  auto* densityLabel = MakeLabel(shadowPage, "densityLabel", QStringLiteral("Density"), 238, 8, 36, 13);
  fShadowDensity =
      Place(new TTrackBar(0, 255, defaults.ShadowDensity, shadowPage), "shadowDensity", 280, 4, 150, 28);
  fShadowColour =
      Place(new TColorSelect(fServices, defaults.ShadowColor, 25, shadowPage), "shadowColour", 466, 0, 41, 33);
  auto* shadowBlurLabel = MakeLabel(shadowPage, "shadowBlurLabel", QStringLiteral("Blur shadow"), 214, 53, 58, 13);
  fShadowBlur =
      Place(new TTrackBar(0, 100, defaults.ShadowBlur, shadowPage), "shadowBlur", 280, 49, 150, 25);

  auto* shadingLabel = MakeLabel(objectPage, "shadingLabel", QStringLiteral("Shading"), 40, 8, 38, 13);
  fShadingStrength =
      Place(new TTrackBar(0, 255, defaults.ShadingStrength, objectPage), "shadingStrength", 104, 8, 150, 25);
  fShadingColour = Place(new TColorSelect(fServices, defaults.ShadingColor, 25, objectPage),
                                   "shadingColour", 290, 0, 41, 33);
  auto* highlightLabel = MakeLabel(objectPage, "highlightLabel", QStringLiteral("Highlights"), 40, 48, 46, 13);
  fHighlightStrength =
      Place(new TTrackBar(0, 255, defaults.HighlightStrength, objectPage), "highlightStrength", 104, 48, 150, 25);
  fHighlightColour = Place(new TColorSelect(fServices, defaults.HighlightColor, 25, objectPage),
                                     "highlightColour", 290, 36, 41, 33);

  MakeLabel(objectPage, "samplingLabel", QStringLiteral("Sampling"), 340, 8, 44, 13);
  fSampling = Place(new QComboBox(objectPage), "sampling", 400, 4, 97, 21);
  for (const core::TSampling s : {core::TSampling::Smooth, core::TSampling::Exact})
    fSampling->addItem(QString::fromUtf8(core::SamplingText(s).data(), static_cast<int>(core::SamplingText(s).size())),
                       static_cast<int>(s));
  fSampling->setCurrentIndex(fSampling->findData(static_cast<int>(defaults.Sampling)));
  MakeLabel(objectPage, "fitLabel", QStringLiteral("Fit"), 340, 48, 44, 13);
  fFit = Place(new QComboBox(objectPage), "fit", 400, 44, 97, 21);
  for (const core::TFitMode m : {core::TFitMode::Automatic, core::TFitMode::Crop, core::TFitMode::Stretch, core::TFitMode::Pad})
    fFit->addItem(QString::fromUtf8(core::FitModeText(m).data(), static_cast<int>(core::FitModeText(m).size())),
                  static_cast<int>(m));
  fFit->setCurrentIndex(fFit->findData(static_cast<int>(defaults.Fit)));
  // Says which pictures do not have their faces' proportions; empty when all do.
  fArtFitNote = Place(new QLabel(this), "artFitNote", 8, 358, 153, 56);
  fArtFitNote->setWordWrap(true);
  fArtFitNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  fStatusBar = Place(new QStatusBar(this), "statusBar", 0, kDesignHeight, kDesignWidth, kStatusBarHeight);
  fStatusBar->setSizeGripEnabled(true);

  // Each bar's value beside it, kept up to date however the bar moves.
  for (TTrackBar* bar : {fReflectionOpacity, fReflectionLength, fReflectionBrightness, fReflectionBlur, fShadowDensity,
                         fShadowBlur, fShadingStrength, fHighlightStrength}) {
    auto* value = MakeLabel(bar->parentWidget(), (bar->objectName() + QStringLiteral("Value")).toLatin1().constData(),
                            QString::number(bar->value()), bar->x() + bar->width() + 2, bar->y() + (bar->height() - 14) / 2,
                            30, 14);
    connect(bar, &QAbstractSlider::valueChanged, value, [value](int v) { value->SetCaption(QString::number(v)); });
  }

  fResamplerList = Place(new QComboBox(this), "resamplerList", 0, 360, 145, 21);
  fResamplerList->hide();
  fKernelList = Place(new QComboBox(this), "kernelList", 0, 384, 145, 21);
  fKernelList->hide();

  // What each control does, for the pointer resting on it.
  const std::pair<QWidget*, const char*> tips[] = {
      {fSavePicture, "Save the picture to a file (Ctrl+S)"},
      {fAbout, "About this program and its libraries"},
      {fOpenScene, "Open a scene: template, pictures and every setting (Ctrl+O)"},
      {fSaveScene, "Save the template, pictures and every setting as a scene (Ctrl+Shift+S)"},
      {fWebpLossless, "Save WebP pictures without loss"},
      {fApply, "Render the chosen template with the current sources and settings (F5)"},
      {fTemplateArrows, "Previous / next template (Page Up / Page Down)"},
      {fTemplatePreview, "The chosen template"},
      {fPreview, "The rendered picture; drop a picture here to use it as the front; its menu zooms to fit or to 100 %"},
      {fOutputWidth, "Width of the rendered picture in pixels"},
      {fOutputHeight, "Height of the rendered picture in pixels"},
      {fOutputDpi, "Resolution written into the saved file, in dots per inch"},
      {fSourcePicture, "Click to choose the picture for this slot, or drop one on the panel"},
      {fSourceColour, "Fill this slot with a colour instead of a picture"},
      {fSourceClear, "Clear this slot's picture: the slot shows its colour"},
      {fSourceUse, "What this slot shows: its picture or its colour"},
      {fSourceArrows, "Previous / next slot"},
      {fTransparentBackground, "Render without a background: the saved picture is see-through around the product"},
      {fLargeDiscArea, "Print the disc's picture over its whole surface (disc templates only)"},
      {fFlipWhenSaved, "Save the picture mirrored left to right"},
      {fShowReflections, "Show the reflections"},
      {fFadeReflections, "Let the reflections fade out with distance"},
      {fReflectionOpacity, "How opaque the reflections are"},
      {fReflectionLength, "How far the reflections reach"},
      {fReflectionBrightness, "How much lighter or darker the reflections are"},
      {fReflectionBlur, "How blurred the reflections are"},
      {fShowShadows, "Show the shadows"},
      {fShadowDensity, "How dark the shadows are"},
      {fShadowColour, "The shadows' colour"},
      {fShadowBlur, "How soft the shadows are"},
      {fShadingStrength, "How strongly the sides are shaded"},
      {fShadingColour, "The shading colour"},
      {fHighlightStrength, "How strong the highlights are"},
      {fHighlightColour, "The highlights' colour"},
      {fSampling, "Smooth: filtered pictures on the faces; exact: the original pixels"},
      {fFit, "How a picture of other proportions than its face fits it: crop keeps a centred part, stretch "
             "distorts all of it, pad borders all of it in its edge colour; auto crops (stretches with exact sampling)"},
  };
  for (const auto& [control, tip] : tips) control->setToolTip(QString::fromUtf8(tip));

  // Keyboard order: every control, the preview and the slot first, the toolbar last.
  const QWidget* order[] = {fPreview,          fSourcePicture,      fSourceClear,      fSourceColour,
                            fSourceArrows,     fOutputWidth,        fOutputHeight,     fOutputDpi,
                            fTransparentBackground, fApply,         fTemplateArrows,   fEffectPages,
                            fShowReflections,  fFadeReflections,    fReflectionOpacity, fReflectionLength,
                            fReflectionBrightness, fReflectionBlur, fShowShadows,      fShadowDensity,
                            fShadowColour,     fShadowBlur,         fShadingStrength,  fShadingColour,
                            fHighlightStrength, fHighlightColour,   fSampling,         fFit,
                            fLargeDiscArea,
                            fFlipWhenSaved,    fSavePicture,        fOpenScene,        fSaveScene,
                            fAbout,            fSaveQuality,        fPngEffort,        fWebpLossless};
  for (std::size_t i = 1; i < std::size(order); ++i)
    QWidget::setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));
}

void MainWindow::StartUp() {
  Guarded([this] {
    // 1. The preview: canvas fitted to the view and cleared, checkerboard and frame stages.
    view::ConfigurePreviewView(View());
    // 2. The hidden resampler and kernel lists, filled without running their handlers.
    {
      const QSignalBlocker blockResamplers(fResamplerList);
      const QSignalBlocker blockKernels(fKernelList);
      std::vector<std::string> names;
      raster::GetResamplerClassNames(names);
      for (const std::string& n : names) fResamplerList->addItem(QString::fromStdString(n));
      names.clear();
      raster::GetKernelClassNames(names);
      for (const std::string& n : names) fKernelList->addItem(QString::fromStdString(n));
      if (fResamplerList->count() > 1) fResamplerList->setCurrentIndex(1);
      if (fKernelList->count() > 0) fKernelList->setCurrentIndex(0);
    }
    // 3. The chooser counts the templates in the folder; the first one's preview and name.
    const std::size_t templates = TemplateFiles().size();
    fTemplateArrows->SetRange(1, std::max<std::int32_t>(1, static_cast<std::int32_t>(templates)));
    StepTemplate();
    // 4. Titled after the executable.
    const QString title = TitleFromExecutable(fPaths.ExecutableFileName);
    SetApplicationTitle(title);
    setWindowTitle(title);
    // 5. The look named in the data folder.
    const std::string skinFile = fPaths.DataFolder + "Data" + core::kPathSeparator + "SkinName.dat";
    const std::vector<std::string> skin = core::ReadTextFileLines(skinFile);
    fSkinManager.SkinDirectory = fPaths.DataFolder + "Data";
    if (skin.empty()) throw EListError(Format(kEmptySkinFile, skinFile.c_str()));
    fSkinManager.SkinName = skin.front();
    fSkinManager.SetActive(true);
  });
}

void MainWindow::ConnectHandlers() {
  auto on = [this](auto* sender, auto signal, auto handler) {
    connect(sender, signal, this, [this, sender, handler] {
      if (fRestoring) return;
      int mergeId = fDragMergeId;
      if (static_cast<QObject*>(sender) == fOutputWidth) mergeId = kWidthTyping;
      if (static_cast<QObject*>(sender) == fOutputHeight) mergeId = kHeightTyping;
      if (static_cast<QObject*>(sender) == fOutputDpi) mergeId = kDpiTyping;
      Recorded(handler, mergeId);
    });
  };
  auto render = [this] { Render(); };
  connect(fRenderTimer, &QTimer::timeout, this, [this] { Guarded([this] { Render(); }); });
  connect(fBusyTimer, &QTimer::timeout, this, [this] { UpdateBusyPointer(); });
  connect(fRenderWorker, &TRenderWorker::Finished, this,
          [this](const TRenderOutcome& outcome) { Guarded([&] { ReceiveRender(outcome); }); });
  on(fSavePicture, &QToolButton::clicked, [this] { SavePicture(); });
  on(fAbout, &QToolButton::clicked, [this] { ShowAbout(); });
  on(fOpenScene, &QToolButton::clicked, [this] { AskOpenScene(); });
  on(fSaveScene, &QToolButton::clicked, [this] { AskSaveScene(); });
  on(fApply, &QPushButton::clicked, render);
  on(fTemplateArrows, &TUpDown::Click, [this] {
    const std::int32_t before = fState.Template;
    StepTemplate();
    if (fState.Template != before) RequestRender();
  });
  on(fSourceArrows, &TUpDown::Click, [this] { StepSlot(); });
  on(fSourcePicture, &TPictureBox::Click, [this] { ChooseSourcePicture(); });
  on(fSourceColour, &TColorSelect::Change, [this] { UseSourceColour(); });
  on(fSourceClear, &QToolButton::clicked, [this] { ClearSourcePicture(); });
  on(fSourcePicture->findChild<QAction*>(QStringLiteral("clearPictureAction")), &QAction::triggered,
     [this] { ClearSourcePicture(); });
  on(fOutputWidth, &TSpinEdit::TextChange, [this] { SizeChanged(fOutputWidth); });
  on(fOutputHeight, &TSpinEdit::TextChange, [this] { SizeChanged(fOutputHeight); });
  on(fShowReflections, &QCheckBox::clicked, [this] {
    fState.Settings.ShowReflection = fShowReflections->isChecked();
    SetSwitchVisible(core::TLayerSwitch::Reflections, fState.Settings.ShowReflection);
  });
  on(fShowShadows, &QCheckBox::clicked, [this] {
    fState.Settings.ShowShadow = fShowShadows->isChecked();
    SetSwitchVisible(core::TLayerSwitch::Shadows, fState.Settings.ShowShadow);
  });
  on(fFadeReflections, &QCheckBox::clicked, [this] {
    fState.Settings.FadeReflection = fFadeReflections->isChecked();
    RequestRender();
  });
  // Sliders render while they move, however they are moved (mouse, keys, wheel).
  on(fOutputDpi, &TSpinEdit::TextChange, [] {});
  auto slider = [&](TTrackBar* bar, auto store) {
    // A drag, press to release, is one step.
    connect(bar, &QAbstractSlider::sliderPressed, this, [this] { fDragMergeId = kFirstDragId + (fDragCount++ % 100000); });
    connect(bar, &QAbstractSlider::sliderReleased, this, [this] { fDragMergeId = -1; });
    on(bar, &TTrackBar::valueChanged, [this, bar, store] {
      store(fState.Settings, bar->value());
      RequestRender();
    });
  };
  using S = core::TRenderSettings;
  slider(fReflectionOpacity, [](S& s, int v) { s.ReflectionOpacity = static_cast<std::uint8_t>(v); });
  slider(fReflectionBlur, [](S& s, int v) { s.ReflectionBlur = static_cast<std::uint8_t>(v); });
  slider(fReflectionBrightness, [](S& s, int v) { s.ReflectionBrightness = v; });
  slider(fReflectionLength, [](S& s, int v) { s.ReflectionLength = static_cast<std::uint8_t>(v); });
  slider(fShadowDensity, [](S& s, int v) { s.ShadowDensity = static_cast<std::uint8_t>(v); });
  slider(fShadowBlur, [](S& s, int v) { s.ShadowBlur = static_cast<std::uint8_t>(v); });
  slider(fShadingStrength, [](S& s, int v) { s.ShadingStrength = static_cast<std::uint8_t>(v); });
  slider(fHighlightStrength, [](S& s, int v) { s.HighlightStrength = static_cast<std::uint8_t>(v); });
  auto colour = [&](TColorSelect* select, raster::TColor S::*field) {
    on(select, &TColorSelect::Change, [this, select, field] {
      fState.Settings.*field = select->Color();
      RequestRender();
    });
  };
  colour(fShadowColour, &S::ShadowColor);
  colour(fShadingColour, &S::ShadingColor);
  colour(fHighlightColour, &S::HighlightColor);
  on(fSampling, &QComboBox::activated, [this] {
    fState.Settings.Sampling = static_cast<core::TSampling>(fSampling->currentData().toInt());
    RequestRender();
  });
  on(fFit, &QComboBox::activated, [this] {
    fState.Settings.Fit = static_cast<core::TFitMode>(fFit->currentData().toInt());
    RequestRender();
  });
  on(fTransparentBackground, &QCheckBox::clicked, [this] {
    fState.TransparentBackground = fTransparentBackground->isChecked();
    RequestRender();
  });
  on(fLargeDiscArea, &QCheckBox::clicked, [this] {
    fState.LargeDiscArea = fLargeDiscArea->isChecked();
    RequestRender();
  });
  on(fProductPage, &ProductPage::Changed, [this] { ApplyProduct(fProductPage->Job(fState.Product)); });
  on(fProductPage, &ProductPage::SplitWrapClicked, [this] {
    const auto file = fServices.OpenPicture(this, QStringLiteral("Choose full cover wrap"), imagefiles::GraphicFilter());
    if (file) SplitCoverWrap(*file);
  });
  on(fProductPage, &ProductPage::SaveTemplateClicked, [this] { AskProductTemplateName(); });
  on(fResamplerList, &QComboBox::currentIndexChanged, [this] { ResamplerChosen(); });
  on(fKernelList, &QComboBox::currentIndexChanged, [this] { KernelChosen(); });
  connect(fSourcePanel, &TCaptionPanel::FileDropped, this, [this](const QString& file) {
    Recorded([&] { AssignSourcePicture(fState.CurrentSlot, file.toStdString()); }, -1);
  });
  connect(fPreview, &TPreviewWidget::FileDropped, this, [this](const QString& file) {
    Recorded([&] { AssignSourcePicture(core::SlotNumber(core::TSlot::Front), file.toStdString()); }, -1);
  });
}

void MainWindow::Guarded(const std::function<void()>& Handler) {
  try {
    Handler();
  } catch (const std::exception& e) {
    ReportError(e);
  }
}

void MainWindow::Recorded(const std::function<void()>& Handler, int MergeId) {
  // The values as last recorded: the number fields hold their new text before their handler runs.
  const TUndoableValues before = fRecordedValues;
  // A handler that fails part way may still have changed a value: that change is a step too.
  const auto record = qScopeGuard([this, &before, MergeId] {
    fRecordedValues = UndoableValues();
    if (fRecordedValues != before) fUndoStack->push(new TValuesCommand(*this, before, fRecordedValues, MergeId));
  });
  Guarded(Handler);
}

TUndoableValues MainWindow::UndoableValues() const {
  return {fState.Template,       fState.Settings,      fState.Sources,       fState.SlotFiles,
          fState.TransparentBackground, fState.LargeDiscArea, fOutputWidth->Value(), fOutputHeight->Value(),
          fOutputDpi->Value(), fState.Product};
}

void MainWindow::RestoreValues(const TUndoableValues& Values) {
  fRestoring = true;
  const auto restoring = qScopeGuard([this] { fRestoring = false; });
  if (Values.Template != fState.Template) {
    fTemplateArrows->SetPosition(Values.Template);
    StepTemplate();
  }
  if (!(Values.Product == fState.Product)) {
    fState.Product = Values.Product;
    fProductPage->Show(Values.Product);
  }
  fState.Settings = Values.Settings;
  fState.Sources = Values.Sources;
  fState.SlotFiles = Values.SlotFiles;
  fState.TransparentBackground = Values.TransparentBackground;
  fState.LargeDiscArea = Values.LargeDiscArea;
  const core::TRenderSettings& s = Values.Settings;
  fShowReflections->setChecked(s.ShowReflection);
  fFadeReflections->setChecked(s.FadeReflection);
  fReflectionOpacity->setValue(s.ReflectionOpacity);
  fReflectionLength->setValue(s.ReflectionLength);
  fReflectionBrightness->setValue(s.ReflectionBrightness);
  fReflectionBlur->setValue(s.ReflectionBlur);
  fShowShadows->setChecked(s.ShowShadow);
  fShadowDensity->setValue(s.ShadowDensity);
  fShadowColour->SetColor(s.ShadowColor);
  fShadowBlur->setValue(s.ShadowBlur);
  fShadingStrength->setValue(s.ShadingStrength);
  fShadingColour->SetColor(s.ShadingColor);
  fHighlightStrength->setValue(s.HighlightStrength);
  fHighlightColour->SetColor(s.HighlightColor);
  fSampling->setCurrentIndex(fSampling->findData(static_cast<int>(s.Sampling)));
  fFit->setCurrentIndex(fFit->findData(static_cast<int>(s.Fit)));
  fTransparentBackground->setChecked(Values.TransparentBackground);
  fLargeDiscArea->setChecked(Values.LargeDiscArea);
  fOutputWidth->setValue(Values.Width);
  fOutputHeight->setValue(Values.Height);
  fOutputDpi->setValue(Values.Dpi);
  SetSwitchVisible(core::TLayerSwitch::Reflections, s.ShowReflection);
  SetSwitchVisible(core::TLayerSwitch::Shadows, s.ShowShadow);
  fRecordedValues = UndoableValues();
  RequestRender();
  ShowCurrentSlot();
}

void MainWindow::ReportError(const std::exception& Error) {
  fServices.ShowError(this, ApplicationTitle(), QString::fromStdString(core::ErrorReportText(Error.what())));
}

// ---- Rendering --------------------------------------------------------------------------------

void MainWindow::RequestRender() {
  if (!fRenderTimer->isActive()) fRenderTimer->start();
}

void MainWindow::Render() {
  fRenderTimer->stop();
  ++fRenderCount;
  core::TRenderRequest request;
  request.Settings = fState.Settings;
  request.Sources = fState.Sources;
  if (fState.Product.Kind.empty()) {
    request.Template.File = core::TemplateEntry(TemplateFiles(), fState.Template);
  } else {
    // The product's layers are made on the spot; the wrap's parts fill its slots.
    const core::TProductTemplate built = core::BuildProductTemplate(fState.Product, nullptr, fState.Sources,
                                                                    fPictures, request.MaxPicturePixels);
    request.Template.Parsed = built.Template;
    request.Sources = built.Sources;
    const core::TProduct& product = built.Scene.Products.front();
    fProductPage->SetStatus(QStringLiteral("%1: %2 x %3 x %4 mm")
                                .arg(QString::fromStdString(product.Kind),
                                     QString::fromStdString(core::FormatNumber(std::round(product.Width * 10) / 10)),
                                     QString::fromStdString(core::FormatNumber(std::round(product.Height * 10) / 10)),
                                     QString::fromStdString(core::FormatNumber(std::round(product.Depth * 10) / 10))));
  }
  request.TransparentBackground = fState.TransparentBackground;
  request.LargeDiscArea = fState.LargeDiscArea;
  request.Width = fOutputWidth->Value();
  request.Height = fOutputHeight->Value();
  request.CustomFolder = fPaths.DataFolder + core::kCustomFolder;
  request.Pictures = &fPictures;
  fRenderWorker->Post(std::move(request), PreviewLook());
  if (!fBusyShown && !fBusyTimer->isActive()) fBusyTimer->start();
}

void MainWindow::ReceiveRender(const TRenderOutcome& Outcome) {
  UpdateBusyPointer();
  // A failure is news only for the newest request: a newer one is on its way already.
  if (Outcome.Error) {
    if (Outcome.Generation == fRenderWorker->LastPosted()) std::rethrow_exception(Outcome.Error);
    return;
  }
  // The old render is freed on the worker, once the preview has let go of its layers.
  auto previous = std::make_shared<core::TRenderResult>(std::move(fResult));
  fResult = std::move(*Outcome.Result);
  fShownGeneration = Outcome.Generation;
  // The switches may have changed while the render ran: the layers follow the current ones.
  for (core::TRenderedLayer& layer : fResult.Layers) {
    const core::TLayerSwitch layerSwitch = layer.Role.Switch();
    if (layerSwitch == core::TLayerSwitch::Reflections) layer.Visible = fState.Settings.ShowReflection;
    if (layerSwitch == core::TLayerSwitch::Shadows) layer.Visible = fState.Settings.ShowShadow;
  }
  // "Large disc area" changes nothing where the template draws no disc.
  const bool hasDisc = std::any_of(fResult.Layers.begin(), fResult.Layers.end(), [](const core::TRenderedLayer& layer) {
    return layer.Role.Type == core::ltDisc || layer.Role.Type == core::ltDiscReflection;
  });
  fLargeDiscArea->setEnabled(hasDisc);
  QStringList notes;
  for (const core::TArtFit& fit : fResult.MismatchedArt) notes << QString::fromStdString(core::ArtFitWarning(fit));
  fArtFitNote->setText(notes.join(QLatin1Char('\n')));
  fArtFitNote->setToolTip(fArtFitNote->text());
  ShowResult(Outcome.Preview);
  fRenderWorker->Dispose(std::move(previous));
  emit Rendered(Outcome.Width, Outcome.Height);
}

void MainWindow::UpdateBusyPointer() {
  const bool busy = fRenderWorker->Pending();
  if (busy && !fBusyShown && !fBusyTimer->isActive()) {
    fServices.PushBusyPointer();
    fBusyShown = true;
  } else if (!busy) {
    fBusyTimer->stop();
    if (fBusyShown) fServices.PopBusyPointer();
    fBusyShown = false;
  }
}

bool MainWindow::WaitForRender(int TimeoutMs) {
  if (fRenderTimer->isActive()) Guarded([this] { Render(); });
  QElapsedTimer clock;
  clock.start();
  while (fRenderWorker->Pending()) {
    if (clock.elapsed() > TimeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::sendPostedEvents();
    if (fRenderWorker->Pending()) QThread::msleep(1);
  }
  return true;
}

TPreviewLook MainWindow::PreviewLook() {
  const view::TImgView32& v = View();
  return TPreviewLook{.ViewportWidth = v.ControlWidth(),
                      .ViewportHeight = v.ControlHeight(),
                      .ScaleMode = v.ScaleMode(),
                      .Scale = v.Scale(),
                      .Resampler = fResamplerList->currentText().toStdString(),
                      .Kernel = fKernelList->currentText().toStdString(),
                      .ShowReflections = fState.Settings.ShowReflection,
                      .ShowShadows = fState.Settings.ShowShadow};
}

void MainWindow::ShowResult(const std::shared_ptr<TPreviewFrame>& Frame) {
  TPreviewView& v = fPreview->View();
  const TPreviewLook look = PreviewLook();
  v.BeginInstall();
  if (Frame == nullptr) {
    ShowInView(v, fResult, look, nullptr);
    v.EndInstall(nullptr);
    return;
  }
  // The worker's copy of the canvas trades places with the view's old pixels, which go back to
  // the worker for the next copy.
  ShowInView(v, fResult, look, &Frame->Canvas);
  auto spare = std::make_unique<raster::TBitmap32>();
  spare->AssignMoving(Frame->Canvas);
  fRenderWorker->Recycle(std::move(spare));
  // A frame painted for a look since changed (a switch, the zoom, the preview's size) is not used.
  v.EndInstall(Frame->Look == look ? Frame : nullptr);
}

void MainWindow::SizeChanged(TSpinEdit* Field) {
  if (Field->Value() >= Field->minimum()) RequestRender();
}

// ---- Source panel -----------------------------------------------------------------------------

void MainWindow::StepSlot() {
  fState.CurrentSlot = fSourceArrows->Position();
  ShowCurrentSlot();
}

void MainWindow::ShowCurrentSlot(const QImage* Loaded) {
  const std::int32_t slot = fState.CurrentSlot;
  const auto index = static_cast<std::size_t>(slot - 1);
  fSourceName->SetCaption(SlotCaption(slot));
  const std::string& file = fState.SlotFiles[index];
  const core::TSlotSource& source = fState.Sources[index];
  const bool usesPicture = !source.UsesColour() && !file.empty();
  // A slot filled with a colour shows no picture, only the colour button and the invitation.
  fSourcePicture->SetPicture(!usesPicture ? QImage() : Loaded != nullptr ? *Loaded : LoadPicture(file));
  fSourcePanel->SetCaption(usesPicture ? QString() : QStringLiteral("Click to load image"));
  const QString name = QFileInfo(QString::fromStdString(file)).fileName();
  fSourceUse->SetCaption(usesPicture    ? QStringLiteral("Picture: %1").arg(name)
                         : file.empty() ? QStringLiteral("Colour")
                                        : QStringLiteral("Colour (picture kept)"));
  fSourceUse->setToolTip(file.empty() ? QStringLiteral("What this slot shows: its colour")
                                      : QStringLiteral("%1 %2").arg(usesPicture ? QStringLiteral("Shows") : QStringLiteral("Keeps"),
                                                                    QString::fromStdString(file)));
  fSourceClear->setVisible(!file.empty());
  fSourceColour->SetColor(source.Colour);
}

void MainWindow::ClearSourcePicture() {
  const auto index = static_cast<std::size_t>(fState.CurrentSlot - 1);
  fState.SlotFiles[index].clear();
  const bool usedPicture = !fState.Sources[index].UsesColour();
  if (usedPicture) fState.Sources[index] = core::TSlotSource::OfColour(fState.Sources[index].Colour);
  ShowCurrentSlot();
  if (usedPicture) Render();
}

void MainWindow::ChooseSourcePicture() {
  const auto file =
      fServices.OpenPicture(this, QStringLiteral("Choose Picture"), imagefiles::GraphicFilter(), fLastOpenFolder);
  if (!file) return;
  fLastOpenFolder = core::SceneFolder(*file);
  AssignSourcePicture(fState.CurrentSlot, *file);
}

void MainWindow::AssignSourcePicture(std::int32_t Slot, const std::string& FileName) {
  // Loaded before anything is stored: a picture that cannot be read is reported and the slot
  // keeps the picture or colour it had.
  const QImage picture = LoadPicture(FileName);
  const auto index = static_cast<std::size_t>(Slot - 1);
  fState.SlotFiles[index] = FileName;
  const raster::TColor colour = fState.Sources[index].Colour;
  fState.Sources[index] = core::TSlotSource::OfFile(FileName);
  fState.Sources[index].Colour = colour;  // the colour stays for when the slot goes back to it
  if (Slot == fState.CurrentSlot) ShowCurrentSlot(&picture);
  Render();
}

void MainWindow::UseSourceColour() {
  const auto index = static_cast<std::size_t>(fState.CurrentSlot - 1);
  fState.Sources[index] = core::TSlotSource::OfColour(fSourceColour->Color());
  ShowCurrentSlot();
  Render();
}

// ---- Template chooser -------------------------------------------------------------------------

void MainWindow::StepTemplate() {
  fState.Template = fTemplateArrows->Position();
  const std::string file = core::TemplateEntry(TemplateFiles(), fState.Template);
  const std::string name = core::TemplateDisplayName(file.substr(file.rfind(core::kPathSeparator) + 1));
  // Loaded before the preview changes: a missing preview of a bundled template leaves the old
  // picture and caption. The user's own templates have none until one is put beside the bundled.
  const std::string previewFile = core::TemplatePreviewPath(fPaths.DataFolder, name);
  const bool bundled = file.rfind(fPaths.DataFolder + core::kTemplatesFolder, 0) == 0;
  const QImage preview = bundled || QFileInfo::exists(QString::fromStdString(previewFile)) ? LoadPicture(previewFile)
                                                                                           : QImage();
  fTemplatePreview->SetPicture(preview);
  ShowTemplateName(QString::fromStdString(name));
}

void MainWindow::ShowTemplateName(const QString& Name) {
  // The whole name where it fits: the caption's size first, a smaller one down to the window's
  // text size, and only then cut, with the whole name in the tooltip.
  const int room = fTemplatePanel->width() - 2 * fTemplateName->x();
  int pixels = kTemplateNamePixels;
  while (pixels > kSmallestTemplateNamePixels && QFontMetrics(SansFont(pixels)).horizontalAdvance(Name) > room)
    --pixels;
  const QFont font = SansFont(pixels);
  fTemplateName->setFont(font);
  const QString shown = QFontMetrics(font).elidedText(Name, Qt::ElideRight, room);
  fTemplateName->SetCaption(shown);
  fTemplateName->resize(std::min(fTemplateName->width(), room), fTemplateName->height());
  fTemplateName->setToolTip(Name);
}

// ---- Settings ---------------------------------------------------------------------------------

void MainWindow::SetSwitchVisible(core::TLayerSwitch Switch, bool Visible) {
  const TBusyPointer busy(fServices);
  raster::TLayerCollection& layers = View().Layers();
  for (std::size_t i = 0; i < fResult.Layers.size(); ++i) {
    core::TRenderedLayer& layer = fResult.Layers[i];
    if (layer.Role.Switch() != Switch) continue;
    layer.Visible = Visible;
    if (static_cast<std::int32_t>(i) < layers.Count()) layers.LayerAt(static_cast<std::int32_t>(i)).SetVisible(Visible);
  }
}

void MainWindow::ResamplerChosen() {
  // The layers' resamplers stay as they are while a save flattens them; the choice follows.
  if (fFlattening) {
    QTimer::singleShot(kRenderDelayMs, this, [this] { Guarded([this] { ResamplerChosen(); }); });
    return;
  }
  const std::optional<bool> showKernels = view::ResamplerClassNamesListChange(
      View(), fResamplerList->currentText().toStdString(), fKernelList->currentText().toStdString());
  if (showKernels) fKernelList->setVisible(*showKernels);
}

void MainWindow::KernelChosen() {
  if (fFlattening) {
    QTimer::singleShot(kRenderDelayMs, this, [this] { Guarded([this] { KernelChosen(); }); });
    return;
  }
  view::KernelClassNamesListChange(View(), fKernelList->currentText().toStdString());
}

// ---- Product page ---------------------------------------------------------------------------

void MainWindow::ApplyProduct(const core::TProductJob& Product) {
  const core::TProductJob previous = fState.Product;
  fState.Product = Product;
  try {
    Render();
  } catch (const core::EBadProductValue& e) {
    fState.Product = previous;
    fProductPage->Show(previous);
    fProductPage->SetStatus(QString::fromStdString(e.what()));
    throw;
  }
}

void MainWindow::SplitCoverWrap(const std::string& WrapFile) {
  core::TProductJob product = fProductPage->Job(fState.Product);
  if (product.Kind.empty())
    throw core::EBadProductValue("A cover wrap needs a product: choose its kind on the Product page first");
  product.Wrap = WrapFile;
  ApplyProduct(product);
}

void MainWindow::AskProductTemplateName() {
  bool accepted = false;
  const QString name = QInputDialog::getText(this, QStringLiteral("Save as template"), QStringLiteral("Template name:"),
                                             QLineEdit::Normal, QString::fromStdString(fState.Product.Kind), &accepted);
  if (accepted) SaveProductTemplate(name.trimmed().toStdString());
}

void MainWindow::SaveProductTemplate(const std::string& Name) {
  if (fState.Product.Kind.empty())
    throw core::EBadProductValue("Only a product can be saved as a template: choose its kind on the Product page first");
  if (Name.empty() || Name.front() == '.' || Name.find_first_of("/\\") != std::string::npos)
    throw core::EBadProductValue("Template name \"" + Name +
                                 "\" cannot be used: give a name without folder separators that does not start with a dot");
  if (fPaths.UserTemplatesFolder.empty())
    throw core::EBadProductValue("There is no user template folder to save into: HOME and XDG_DATA_HOME are both unset");
  const std::string file = fPaths.UserTemplatesFolder + Name + ".ini";
  // Never over a user's file.
  if (QFileInfo::exists(QString::fromStdString(file)))
    throw core::EBadProductValue("Template \"" + file + "\" exists already: choose another name");
  if (!QDir().mkpath(QString::fromStdString(fPaths.UserTemplatesFolder)))
    throw core::EBadProductValue("Cannot create the user template folder \"" + fPaths.UserTemplatesFolder + "\"");
  imagefiles::TPictureCache& pictures = fPictures;
  const std::string text = core::ProductTemplateText(
      core::BuildProductTemplate(fState.Product, nullptr, fState.Sources, pictures, imagefiles::kDefaultPicturePixels));
  imagefiles::WriteFileSafely(file, text.data(), text.size());
  // Listed at once and chosen; the product page keeps its product, which renders the same.
  const std::vector<std::string> templates = TemplateFiles();
  const auto found = std::find(templates.begin(), templates.end(), file);
  fTemplateArrows->SetRange(1, std::max<std::int32_t>(1, static_cast<std::int32_t>(templates.size())));
  if (found != templates.end()) fTemplateArrows->SetPosition(static_cast<std::int32_t>(found - templates.begin()) + 1);
  StepTemplate();
  fProductPage->SetStatus(QStringLiteral("Saved as template \"%1\"").arg(QString::fromStdString(Name)));
}

// ---- Save and about ---------------------------------------------------------------------------

std::unique_ptr<raster::TBitmap32> MainWindow::CurrentPicture() {
  // What is used is the render of the values shown now: a change still waiting or a render on
  // its way is finished first, and before the first render there is one.
  if (fResult.Canvas == nullptr || RenderPending()) {
    const TBusyPointer busy(fServices);
    if (!RenderPending()) Render();
    if (!WaitForRender()) throw std::runtime_error("The picture could not be rendered in time; nothing was saved");
    // A failed render has been reported; an older picture is not used in its place.
    if (fShownGeneration != fRenderWorker->LastPosted() || fResult.Canvas == nullptr) return nullptr;
  }
  // The visible layers of the last render at its size, flattened beside the event loop. The copy
  // shares the bitmaps, which stay as they are: a render arriving meanwhile replaces fResult only.
  auto shown = std::make_shared<core::TRenderResult>(fResult);
  std::unique_ptr<raster::TBitmap32> flat;
  fFlattening = true;
  const auto flattened = qScopeGuard([this, &shown] {
    fFlattening = false;
    fRenderWorker->Dispose(std::move(shown));
  });
  RunBesideEventLoop([&flat, &shown] { flat = core::Flatten(*shown); });
  return flat;
}

void MainWindow::SavePicture() {
  if (fSaving) return;
  fSaving = true;
  const auto saving = qScopeGuard([this] { fSaving = false; });
  // Flattened before the dialog opens.
  std::unique_ptr<raster::TBitmap32> flat = CurrentPicture();
  if (flat == nullptr) return;
  const auto dispose = qScopeGuard([this, &flat] { fRenderWorker->Dispose(std::move(flat)); });
  const std::string firstExtension(imagefiles::OutputFormats().front().Extensions.front());
  const auto answer = fServices.SavePicture(this, SaveFilter(), firstExtension, fLastSaveName);
  if (!answer) return;
  const std::string file = NameWithFilterExtension(answer->File, answer->Filter);
  fLastSaveName = file;
  const imagefiles::TSaveOptions options{.Dpi = fOutputDpi->Value(),
                                         .Quality = fSaveQuality->Value(),
                                         .Lossless = fWebpLossless->isChecked(),
                                         .PngEffort = static_cast<imagefiles::TPngEffort>(fPngEffort->currentIndex())};
  const TBusyPointer busy(fServices);
  const bool flip = fFlipWhenSaved->isChecked();
  // Encoding a large picture takes a while: it runs beside the event loop, which keeps the
  // window answering.
  RunBesideEventLoop([&flat, &file, &options, flip] { imagefiles::SavePicture(*flat, file, options, flip); });
}

std::string SaveFilter() {
  std::string filter;
  for (const imagefiles::TOutputFormatInfo& format : imagefiles::OutputFormats()) {
    std::string patterns;
    for (std::string_view ext : format.Extensions)
      if (!ext.empty()) patterns += (patterns.empty() ? "*" : ";*") + std::string(ext);
    filter += (filter.empty() ? "" : "|") + std::string(format.Description) + " Image (" + patterns + ")|" + patterns;
  }
  return filter;
}

std::string NameWithFilterExtension(const std::string& File, std::size_t Filter) {
  if (imagefiles::OutputFormatOf(File)) return File;
  const auto& formats = imagefiles::OutputFormats();
  return File + std::string(formats[Filter < formats.size() ? Filter : 0].Extensions.front());
}

void MainWindow::CopyPicture() {
  if (fSaving) return;
  fSaving = true;
  const auto copying = qScopeGuard([this] { fSaving = false; });
  std::unique_ptr<raster::TBitmap32> flat = CurrentPicture();
  if (flat == nullptr) return;
  const auto dispose = qScopeGuard([this, &flat] { fRenderWorker->Dispose(std::move(flat)); });
  // Straight 8-bit BGRA words, as QImage's ARGB32 holds them; copied, since the bitmap goes.
  QImage copied;
  RunBesideEventLoop([&flat, &copied] {
    copied = QImage(reinterpret_cast<const uchar*>(flat->Bits()), flat->Width(), flat->Height(),
                    static_cast<qsizetype>(flat->Width()) * 4, QImage::Format_ARGB32)
                 .copy();
  });
  QGuiApplication::clipboard()->setImage(copied);
}

void MainWindow::BuildShortcuts() {
  auto key = [this](const QKeySequence& Keys, const char* Name, auto Handler) {
    auto* shortcut = new QShortcut(Keys, this);
    shortcut->setObjectName(QString::fromLatin1(Name));
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, [this, Handler] { Guarded(Handler); });
    return shortcut;
  };
  key(QKeySequence(Qt::CTRL | Qt::Key_S), "saveShortcut", [this] { SavePicture(); });
  key(QKeySequence(Qt::CTRL | Qt::Key_C), "copyShortcut", [this] { CopyPicture(); });
  // Opening a scene is a step of its own.
  key(QKeySequence(Qt::CTRL | Qt::Key_O), "openSceneShortcut", [this] { Recorded([this] { AskOpenScene(); }, -1); });
  key(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), "saveSceneShortcut", [this] { AskSaveScene(); });
  key(QKeySequence(Qt::Key_F5), "applyShortcut", [this] { Render(); });
  key(QKeySequence(Qt::CTRL | Qt::Key_Z), "undoShortcut", [this] { fUndoStack->undo(); });
  key(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), "redoShortcut", [this] { fUndoStack->redo(); });
  key(QKeySequence(Qt::CTRL | Qt::Key_Y), "redoOtherShortcut", [this] { fUndoStack->redo(); });
  // The arrows' own buttons: they stop at the ends the same way.
  key(QKeySequence(Qt::Key_PageUp), "previousTemplateShortcut", [this] {
    if (fTemplateArrows->PrevButton()->isEnabled()) fTemplateArrows->PrevButton()->click();
  });
  key(QKeySequence(Qt::Key_PageDown), "nextTemplateShortcut", [this] {
    if (fTemplateArrows->NextButton()->isEnabled()) fTemplateArrows->NextButton()->click();
  });
}

void MainWindow::ShowAbout() {
  if (fAboutBox == nullptr) return;
  fAboutBox->ShowModalOver(this);
}

void MainWindow::closeEvent(QCloseEvent* Event) {
  Guarded([this] { SaveSettings(); });
  // The preview goes first, then the look.
  fPreview->hide();
  fSkinManager.SetActive(false);
  QWidget::closeEvent(Event);
}

// ---- Scenes and remembered values -----------------------------------------------------------

core::TJob MainWindow::CurrentJob() const {
  core::TJob job;
  job.Template = TemplateRef();
  job.Request.Settings = fState.Settings;
  job.Request.Sources = fState.Sources;
  job.Request.TransparentBackground = fState.TransparentBackground;
  job.Request.LargeDiscArea = fState.LargeDiscArea;
  job.Request.Width = fOutputWidth->Value();
  job.Request.Height = fOutputHeight->Value();
  job.WidthGiven = job.HeightGiven = true;
  job.Output.Dpi = fOutputDpi->Value();
  job.Output.Quality = fSaveQuality->Value();
  job.Output.Lossless = fWebpLossless->isChecked();
  job.Output.PngEffort = static_cast<imagefiles::TPngEffort>(fPngEffort->currentIndex());
  job.Output.Flip = fFlipWhenSaved->isChecked();
  job.Product = fState.Product;
  return job;
}

std::string MainWindow::TemplateRef() const {
  const std::string file = core::TemplateEntry(TemplateFiles(), fState.Template);
  return core::TemplateDisplayName(file.substr(file.rfind(core::kPathSeparator) + 1));
}

std::int32_t MainWindow::TemplateNumber(const std::string& Ref) const {
  const std::vector<std::string> files = TemplateFiles();
  const bool digits =
      !Ref.empty() && Ref.size() < 9 && std::all_of(Ref.begin(), Ref.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (digits) {
    const int number = std::stoi(Ref);
    if (number >= 1 && number <= static_cast<int>(files.size())) return number;
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string name = files[i].substr(files[i].rfind(core::kPathSeparator) + 1);
    if (core::TemplateDisplayName(name) == Ref || files[i] == Ref) return static_cast<std::int32_t>(i) + 1;
  }
  throw std::runtime_error("There is no template \"" + Ref + "\" among the " + std::to_string(files.size()) +
                           " templates the window lists");
}

QStringList MainWindow::DropMissingPictures(core::TJob& Job) const {
  QStringList dropped;
  auto usable = [](const std::string& File) {
    const QFileInfo info(QString::fromStdString(File));
    return info.isFile() && info.isReadable();
  };
  for (std::size_t i = 0; i < Job.Request.Sources.size(); ++i) {
    core::TSlotSource& source = Job.Request.Sources[i];
    if (source.Kind == core::TSlotSource::TKind::File && !usable(source.File)) {
      dropped << QString::fromStdString(source.File);
      source = core::TSlotSource::OfColour(core::kSlots[i].DefaultColour);
    }
  }
  if (!Job.Product.Wrap.empty() && !usable(Job.Product.Wrap)) {
    dropped << QString::fromStdString(Job.Product.Wrap);
    Job.Product.Wrap.clear();
  }
  return dropped;
}

void MainWindow::ApplyJob(const core::TJob& Job) {
  TUndoableValues values = UndoableValues();
  if (Job.Product.Kind.empty()) values.Template = TemplateNumber(Job.Template);
  values.Settings = Job.Request.Settings;
  values.Sources = Job.Request.Sources;
  for (std::size_t i = 0; i < values.Sources.size(); ++i) {
    core::TSlotSource& source = values.Sources[i];
    // A slot showing a colour keeps the colour of its default; one showing a file remembers it.
    if (source.Kind == core::TSlotSource::TKind::File) {
      values.SlotFiles[i] = source.File;
      source.Colour = core::DefaultSlotSources()[i].Colour;
    }
  }
  values.TransparentBackground = Job.Request.TransparentBackground;
  values.LargeDiscArea = Job.Request.LargeDiscArea;
  values.Width = Job.Request.Width;
  values.Height = Job.Request.Height;
  values.Dpi = Job.Output.Dpi;
  values.Product = Job.Product;
  values.Product.SaveTemplate.clear();
  fSaveQuality->setValue(Job.Output.Quality);
  fWebpLossless->setChecked(Job.Output.Lossless);
  fPngEffort->setCurrentIndex(static_cast<int>(Job.Output.PngEffort));
  fFlipWhenSaved->setChecked(Job.Output.Flip);
  RestoreValues(values);
}

void MainWindow::SaveScene(const std::string& File) {
  const std::string absolute = QFileInfo(QString::fromStdString(File)).absoluteFilePath().toStdString();
  const std::string text = core::SceneText(core::SceneCells(CurrentJob(), TemplateRef(), core::SceneFolder(absolute)));
  imagefiles::WriteFileSafely(absolute, text.data(), text.size());
  fLastSceneName = absolute;
  fStatusBar->showMessage(QStringLiteral("Scene saved as %1").arg(QString::fromStdString(absolute)));
}

void MainWindow::OpenScene(const std::string& File) {
  Recorded(
      [&] {
        const std::string absolute = QFileInfo(QString::fromStdString(File)).absoluteFilePath().toStdString();
        core::TJob job;
        core::ApplySceneCells(job, core::ReadSceneFile(absolute), absolute);
        const QStringList dropped = DropMissingPictures(job);
        ApplyJob(job);
        fLastSceneName = absolute;
        fStatusBar->showMessage(dropped.isEmpty() ? QStringLiteral("Scene %1 opened").arg(QString::fromStdString(absolute))
                                                  : QStringLiteral("Scene opened; pictures not found, left out: %1")
                                                        .arg(dropped.join(QStringLiteral(", "))));
      },
      -1);
}

void MainWindow::AskOpenScene() {
  const auto file = fServices.OpenPicture(this, QStringLiteral("Open scene"), kSceneFilter,
                                          fLastSceneName.empty() ? fLastOpenFolder : core::SceneFolder(fLastSceneName));
  if (file) OpenScene(*file);
}

void MainWindow::AskSaveScene() {
  const auto answer = fServices.SavePicture(this, kSceneFilter, ".json", fLastSceneName);
  if (!answer) return;
  std::string file = answer->File;
  if (QFileInfo(QString::fromStdString(file)).suffix().isEmpty()) file += ".json";
  SaveScene(file);
}

namespace {

// Whether File holds a scene rather than a picture: a JSON object, by its first character.
bool IsSceneFile(const QString& File) {
  QFile in(File);
  if (!in.open(QIODevice::ReadOnly)) return false;
  const QByteArray head = in.read(64).trimmed();
  return head.startsWith('{');
}

}  // namespace

void MainWindow::OpenFiles(const QStringList& Files) {
  bool pictureTaken = false;
  for (const QString& file : Files) {
    if (IsSceneFile(file)) {
      OpenScene(file.toStdString());
    } else if (!pictureTaken) {
      pictureTaken = true;
      const std::string absolute = QFileInfo(file).absoluteFilePath().toStdString();
      Recorded([&] { AssignSourcePicture(core::SlotNumber(core::TSlot::Front), absolute); }, -1);
    }
  }
}

void MainWindow::SaveSettings() {
  if (fPaths.SettingsFile.empty() || fOutputWidth == nullptr) return;
  QSettings settings(QString::fromStdString(fPaths.SettingsFile), QSettings::IniFormat);
  settings.clear();
  settings.beginGroup(QStringLiteral("values"));
  for (const core::TBatchCell& cell : core::SceneCells(CurrentJob(), TemplateRef(), {}))
    settings.setValue(QString::fromStdString(cell.Key), QString::fromStdString(cell.Value));
  settings.endGroup();
  // Pictures chosen for slots that show a colour now, so they come back with the slot.
  settings.beginGroup(QStringLiteral("pictures"));
  for (const core::TSlotInfo& info : core::kSlots) {
    const std::string& file = fState.SlotFiles[core::SlotIndex(info.Slot)];
    if (!file.empty()) settings.setValue(QString::fromLatin1(info.Option.data(), qsizetype(info.Option.size())), QString::fromStdString(file));
  }
  settings.endGroup();
  settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
  settings.setValue(QStringLiteral("window/slot"), fState.CurrentSlot);
  settings.setValue(QStringLiteral("window/page"), fEffectPages->currentIndex());
  settings.setValue(QStringLiteral("folders/open"), QString::fromStdString(fLastOpenFolder));
  settings.setValue(QStringLiteral("folders/save"), QString::fromStdString(core::SceneFolder(fLastSaveName)));
  settings.setValue(QStringLiteral("folders/scene"), QString::fromStdString(fLastSceneName));
  settings.sync();
}

void MainWindow::RestoreSettings() {
  if (fPaths.SettingsFile.empty()) return;
  QSettings settings(QString::fromStdString(fPaths.SettingsFile), QSettings::IniFormat);
  if (settings.contains(QStringLiteral("window/geometry")))
    restoreGeometry(settings.value(QStringLiteral("window/geometry")).toByteArray());
  fLastOpenFolder = settings.value(QStringLiteral("folders/open")).toString().toStdString();
  const QString saveFolder = settings.value(QStringLiteral("folders/save")).toString();
  // The dialog opens in the folder, with no name chosen yet.
  if (!saveFolder.isEmpty()) fLastSaveName = saveFolder.toStdString() + "/";
  fLastSceneName = settings.value(QStringLiteral("folders/scene")).toString().toStdString();
  fEffectPages->setCurrentIndex(settings.value(QStringLiteral("window/page"), 0).toInt());

  // Nothing here may stop the start: what cannot be used is left out and named in the status bar.
  QStringList dropped;
  settings.beginGroup(QStringLiteral("values"));
  const QStringList keys = settings.childKeys();
  core::TJob job;
  for (const QString& key : keys) {
    const std::string value = settings.value(key).toString().toStdString();
    try {
      core::ApplyJobValue(job, key.toStdString(), value);
    } catch (const std::exception&) {
      dropped << QStringLiteral("%1 = %2").arg(key, QString::fromStdString(value));
    }
  }
  settings.endGroup();
  if (keys.isEmpty()) return;
  dropped << DropMissingPictures(job);
  try {
    TemplateNumber(job.Template);
  } catch (const std::exception&) {
    dropped << QStringLiteral("template %1").arg(QString::fromStdString(job.Template));
    job.Template = "1";
  }
  Guarded([&] { ApplyJob(job); });
  settings.beginGroup(QStringLiteral("pictures"));
  for (const core::TSlotInfo& info : core::kSlots) {
    const QString file = settings.value(QString::fromLatin1(info.Option.data(), qsizetype(info.Option.size()))).toString();
    if (file.isEmpty() || !fState.SlotFiles[core::SlotIndex(info.Slot)].empty()) continue;
    if (QFileInfo(file).isFile()) fState.SlotFiles[core::SlotIndex(info.Slot)] = file.toStdString();
    else if (!dropped.contains(file)) dropped << file;
  }
  settings.endGroup();
  fSourceArrows->SetPosition(settings.value(QStringLiteral("window/slot"), 1).toInt());
  fState.CurrentSlot = fSourceArrows->Position();
  ShowCurrentSlot();
  if (!dropped.isEmpty())
    fStatusBar->showMessage(QStringLiteral("Not found at start, left out: %1").arg(dropped.join(QStringLiteral(", "))));
}

void MainWindow::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  if (fStatusBar == nullptr) return;  // still being built
  // The preview takes the room the window grows by; the right column keeps to the right edge,
  // the size fields, switches, pages and status bar to the bottom.
  const int dw = std::max(0, width() - kDesignWidth);
  const int dh = std::max(0, height() - kDesignHeight - kStatusBarHeight);
  fToolBar->resize(kDesignWidth + dw, fToolBar->height());
  fPreview->setGeometry(168, 56, 297 + dw, 297 + dh);
  findChild<QFrame*>(QStringLiteral("outputPanel"))->move(168, 360 + dh);
  fSourcePanel->move(472 + dw, 64);
  fSourceArrows->move(472 + dw, 320);
  fTransparentBackground->move(480 + dw, 360 + dh);
  fLargeDiscArea->move(480 + dw, 384 + dh);
  fFlipWhenSaved->move(480 + dw, 408 + dh);
  fEffectPages->setGeometry(0, 416 + dh, kDesignWidth + dw, 105);
  fStatusBar->setGeometry(0, kDesignHeight + dh, kDesignWidth + dw, kStatusBarHeight);
}

}  // namespace quirlon::app
