#include "app/Unit1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>

#include "app/Unit2.h"
#include "core/Platform.h"
#include "core/Template.h"
#include "imagefiles/OutputWriters.h"
#include "imagefiles/Picture.h"
#include "raster/Errors.h"
#include "raster/Kernels.h"
#include "raster/LayerResamplers.h"
#include "raster/Resamplers.h"

namespace quirlon::app {

using core::RenderSettings;
using core::SourceFiles;

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

TAppPaths TAppPaths::BesideExecutable() { return {core::ExecutableFolder(), core::ExecutableFileName()}; }

QString SlotCaption(std::int32_t Slot) {
  static const char* const kCaptions[] = {"BACKGROUND", "FRONT",   "SIDE",  "TOP",   "DISC",
                                          "FRONT 2",    "SIDE 2",  "TOP 2", "DISC 2"};
  if (Slot < core::kFirstSlot || Slot > core::kLastSlot) return {};
  return QString::fromLatin1(kCaptions[Slot - core::kFirstSlot]);
}

TForm1::TForm1(TWindowServices& Services, TAppPaths Paths, QWidget* Parent)
    : QWidget(Parent), fServices(Services), fPaths(std::move(Paths)) {
  BuildLayout();
  fShadeBitmap32List.Build();
  fEnv.LayerKinds = &fLayerKinds;
  fEnv.Pictures = &fPictures;
  fEnv.ShadeMasks = &fShadeBitmap32List;
  fEnv.TemplatesFolder = fPaths.DataFolder + core::kTemplatesFolder;
  fEnv.CustomFolder = fPaths.DataFolder + core::kCustomFolder;
  FormCreate();
  ConnectHandlers();
}

TForm1::~TForm1() {
  // The controls outlive this body (QWidget frees them later) and may still signal while the
  // window goes away, a number field losing the focus for one: no handler may run from here on.
  for (QObject* child : findChildren<QObject*>()) QObject::disconnect(child, nullptr, this, nullptr);
  // FormDestroy: LayerKinds goes with the window.
  fLayerKinds.clear();
}

void TForm1::BuildLayout() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(ApplicationTitle());
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(633, 523);
  move(312, 222);
  setFont(SansFont(11));
  setBackgroundRole(QPalette::Button);
  setAutoFillBackground(true);

  sToolBar1 = Place(new QToolBar(this), "sToolBar1", 0, 0, 633, 49);
  sToolBar1->setMovable(false);
  sToolBar1->setFloatable(false);
  sToolBar1->setIconSize(QSize(16, 16));
  SaveButton = Place(new QToolButton(sToolBar1), "SaveButton", 0, 2, 71, 36);
  SaveButton->setText(QStringLiteral("Save picture"));
  SaveButton->setIcon(PencilIcon());
  AboutToolButton = Place(new QToolButton(sToolBar1), "AboutToolButton", 71, 2, 67, 36);
  AboutToolButton->setText(QStringLiteral("About..."));
  AboutToolButton->setIcon(PlusIcon());
  for (QToolButton* b : {SaveButton, AboutToolButton}) {
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setIconSize(QSize(16, 16));
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
  }

  TemplatePanel = Place(new TCaptionPanel(QStringLiteral("TOP"), this), "TemplatePanel", 8, 64, 153, 249);
  TemplatePanel->setFont(SansFont(19));
  TemplateCaption = MakeLabel(TemplatePanel, "TemplateCaption", QStringLiteral("BOX1"), 8, 16, 45, 23, 19);
  TemplateBevel = MakeBevel(TemplatePanel, "TemplateBevel", 8, 56, 137, 185);
  TemplateImage = Place(new TPictureBox(TemplatePanel), "TemplateImage", 16, 104, 120, 90);
  ApplyTempButton = Place(new QPushButton(QStringLiteral("APPLY >>"), TemplatePanel), "ApplyTempButton", 40, 208, 99, 25);
  ApplyTempButton->setFont(SansFont(11));
  TemplateUpDown = Place(new TUpDown(core::kCurrentTemplateRange.Min, core::kCurrentTemplateRange.Max, 1, this),
                         "TemplateUpDown", 8, 320, 153, 33);

  ImgView = Place(new TPreviewWidget(this), "ImgView", 168, 56, 297, 297);
  ImgView->SyncViewport();

  sPanel2 = Place(new QFrame(this), "sPanel2", 168, 360, 297, 57);
  sPanel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
  sLabel1 = MakeLabel(sPanel2, "sLabel1", QStringLiteral("Width:"), 8, 16, 37, 14, 12);
  WidthSpinEdit = Place(new TSpinEdit(32, 2048, 800, sPanel2), "WidthSpinEdit", 48, 16, 49, 21);
  sLabel2 = MakeLabel(sPanel2, "sLabel2", QStringLiteral("Height:"), 104, 16, 40, 14, 12);
  HeightSpinEdit = Place(new TSpinEdit(32, 2048, 600, sPanel2), "HeightSpinEdit", 144, 16, 49, 21);
  sLabel11 = MakeLabel(sPanel2, "sLabel11", QStringLiteral("DPI:"), 208, 16, 21, 13);
  DpiSpinEdit = Place(new TSpinEdit(60, 600, 96, sPanel2), "DpiSpinEdit", 232, 16, 49, 21);

  LayerSourcePanel =
      Place(new TCaptionPanel(QStringLiteral("Click to load image"), this), "LayerSourcePanel", 472, 64, 153, 249);
  LayerSourcePanel->setFont(SansFont(15));
  LayerSourcePanel->SetAcceptFiles(true);
  LayerSourceCaption = MakeLabel(LayerSourcePanel, "LayerSourceCaption", SlotCaption(1), 8, 16, 120, 23, 19);
  LSClearImage = Place(new TPictureBox(LayerSourcePanel), "LSClearImage", 80, 16, 33, 33);
  LayerSourceBevel = MakeBevel(LayerSourcePanel, "LayerSourceBevel", 8, 56, 137, 129);
  LayerSourceImg = Place(new TPictureBox(LayerSourcePanel), "LayerSourceImg", 16, 64, 121, 113);
  LayerSourceColorSelect = Place(new TColorSelect(fServices, RenderSettings.SlotColor[1], 40, LayerSourcePanel),
                                 "LayerSourceColorSelect", 48, 192, 57, 49);
  LayerSourceUpDown = Place(new TUpDown(core::kCurrentSlotRange.Min, core::kCurrentSlotRange.Max, 1, this),
                            "LayerSourceUpDown", 472, 320, 153, 33);

  TrBckCheckBox = MakeCheckBox(this, "TrBckCheckBox", QStringLiteral("Transparent background"), false, 480, 360, 138, 20);
  TrBckCheckBox->setFocusPolicy(Qt::ClickFocus);
  LarDiAreaCheckBox = MakeCheckBox(this, "LarDiAreaCheckBox", QStringLiteral("Large disc area"), false, 480, 384, 93, 20);

  SettingsPageControl = Place(new QTabWidget(this), "SettingsPageControl", 0, 416, 633, 105);
  ReflectionPage = new QWidget;
  ReflectionPage->setObjectName(QStringLiteral("ReflectionPage"));
  ShadowPage = new QWidget;
  ShadowPage->setObjectName(QStringLiteral("ShadowPage"));
  ObjectPage = new QWidget;
  ObjectPage->setObjectName(QStringLiteral("ObjectPage"));
  SettingsPageControl->addTab(ReflectionPage, QStringLiteral("Reflection"));
  SettingsPageControl->addTab(ShadowPage, QStringLiteral("Shadow"));
  SettingsPageControl->addTab(ObjectPage, QStringLiteral("Object"));
  SettingsPageControl->setCurrentIndex(0);

  // Drawn above the right end of the tab strip, and clickable there.
  FlipCheckBox = MakeCheckBox(this, "FlipCheckBox", QStringLiteral("Flip when saved"), false, 480, 408, 97, 20);
  FlipCheckBox->raise();

  const core::TRenderSettings defaults;
  ShowReflectionCheckBox =
      MakeCheckBox(ReflectionPage, "ShowReflectionCheckBox", QStringLiteral("Show"), defaults.ShowReflection, 8, 8, 46, 20);
  FadeReflectionCheckBox =
      MakeCheckBox(ReflectionPage, "FadeReflectionCheckBox", QStringLiteral("Fade"), defaults.FadeReflection, 8, 40, 44, 20);
  sLabel3 = MakeLabel(ReflectionPage, "sLabel3", QStringLiteral("Opacity"), 112, 8, 37, 13);
  OpacityReflectionTrackBar = Place(new TTrackBar(0, 255, defaults.ReflectionOpacity, ReflectionPage),
                                    "OpacityReflectionTrackBar", 160, 4, 150, 25);
  sLabel4 = MakeLabel(ReflectionPage, "sLabel4", QStringLiteral("Length"), 112, 40, 33, 13);
  ReflectionLengthTrackBar = Place(new TTrackBar(1, 100, defaults.ReflectionLength, ReflectionPage),
                                   "ReflectionLengthTrackBar", 160, 35, 150, 25);
  sLabel5 = MakeLabel(ReflectionPage, "sLabel5", QStringLiteral("Brightness"), 360, 8, 50, 13);
  ReflectionBrightnessTrackBar = Place(new TTrackBar(-50, 50, defaults.ReflectionBrightness, ReflectionPage),
                                       "ReflectionBrightnessTrackBar", 424, 5, 150, 25);
  sLabel6 = MakeLabel(ReflectionPage, "sLabel6", QStringLiteral("Blur reflections"), 339, 40, 71, 13);
  BlurReflectionTrackBar =
      Place(new TTrackBar(0, 100, defaults.ReflectionBlur, ReflectionPage), "BlurReflectionTrackBar", 424, 35, 150, 25);

  ShowShadowCheckBox =
      MakeCheckBox(ShadowPage, "ShowShadowCheckBox", QStringLiteral("Show"), defaults.ShowShadow, 8, 32, 54, 19);
  sLabel7 = MakeLabel(ShadowPage, "sLabel7", QStringLiteral("Density"), 238, 8, 36, 13);
  ShadowDensityTrackBar =
      Place(new TTrackBar(0, 255, defaults.ShadowDensity, ShadowPage), "ShadowDensityTrackBar", 280, 4, 150, 28);
  ShadowColorSelect =
      Place(new TColorSelect(fServices, defaults.ShadowColor, 25, ShadowPage), "ShadowColorSelect", 432, 0, 41, 33);
  sLabel8 = MakeLabel(ShadowPage, "sLabel8", QStringLiteral("Blur shadow"), 214, 53, 58, 13);
  BlurShadowTrackBar =
      Place(new TTrackBar(0, 100, defaults.ShadowBlur, ShadowPage), "BlurShadowTrackBar", 280, 49, 150, 25);

  sLabel9 = MakeLabel(ObjectPage, "sLabel9", QStringLiteral("Shading"), 40, 8, 38, 13);
  ObjectShadingTrackBar =
      Place(new TTrackBar(0, 255, defaults.ShadingStrength, ObjectPage), "ObjectShadingTrackBar", 104, 8, 150, 25);
  ObjectShadingColorSelect = Place(new TColorSelect(fServices, defaults.ShadingColor, 25, ObjectPage),
                                   "ObjectShadingColorSelect", 256, 0, 41, 33);
  sLabel10 = MakeLabel(ObjectPage, "sLabel10", QStringLiteral("Highlights"), 40, 48, 46, 13);
  ObjectHighlightTrackBar =
      Place(new TTrackBar(0, 255, defaults.HighlightStrength, ObjectPage), "ObjectHighlightTrackBar", 104, 48, 150, 25);
  ObjectHighlightColorSelect = Place(new TColorSelect(fServices, defaults.HighlightColor, 25, ObjectPage),
                                     "ObjectHighlightColorSelect", 256, 40, 41, 33);

  ResamplerClassNamesList = Place(new QComboBox(this), "ResamplerClassNamesList", 0, 360, 145, 21);
  ResamplerClassNamesList->hide();
  KernelClassNamesList = Place(new QComboBox(this), "KernelClassNamesList", 0, 384, 145, 21);
  KernelClassNamesList->hide();

  // Keyboard order.
  QWidget::setTabOrder(ImgView, LayerSourceUpDown);
  QWidget::setTabOrder(LayerSourceUpDown, WidthSpinEdit);
  QWidget::setTabOrder(WidthSpinEdit, HeightSpinEdit);
  QWidget::setTabOrder(HeightSpinEdit, DpiSpinEdit);
  QWidget::setTabOrder(DpiSpinEdit, ApplyTempButton);
  QWidget::setTabOrder(ApplyTempButton, TemplateUpDown);
  QWidget::setTabOrder(TemplateUpDown, SettingsPageControl);
  QWidget::setTabOrder(SettingsPageControl, ShowReflectionCheckBox);
  QWidget::setTabOrder(ShowReflectionCheckBox, FadeReflectionCheckBox);
  QWidget::setTabOrder(FadeReflectionCheckBox, OpacityReflectionTrackBar);
  QWidget::setTabOrder(OpacityReflectionTrackBar, ReflectionLengthTrackBar);
  QWidget::setTabOrder(ReflectionLengthTrackBar, ReflectionBrightnessTrackBar);
  QWidget::setTabOrder(ReflectionBrightnessTrackBar, BlurReflectionTrackBar);
  QWidget::setTabOrder(BlurReflectionTrackBar, ShowShadowCheckBox);
  QWidget::setTabOrder(ShowShadowCheckBox, ShadowDensityTrackBar);
  QWidget::setTabOrder(ShadowDensityTrackBar, BlurShadowTrackBar);
  QWidget::setTabOrder(BlurShadowTrackBar, ObjectShadingTrackBar);
  QWidget::setTabOrder(ObjectShadingTrackBar, ObjectHighlightTrackBar);
  QWidget::setTabOrder(ObjectHighlightTrackBar, LarDiAreaCheckBox);
  QWidget::setTabOrder(LarDiAreaCheckBox, FlipCheckBox);
}

void TForm1::FormCreate() {
  Guarded([this] {
    // 1. The preview: canvas fitted to the view and cleared, checkerboard and frame stages.
    raster::ConfigurePreviewView(View());
    // 2. The hidden resampler and kernel lists, filled without running their handlers.
    {
      const QSignalBlocker blockResamplers(ResamplerClassNamesList);
      const QSignalBlocker blockKernels(KernelClassNamesList);
      std::vector<std::string> names;
      raster::GetResamplerClassNames(names);
      for (const std::string& n : names) ResamplerClassNamesList->addItem(QString::fromStdString(n));
      names.clear();
      raster::GetKernelClassNames(names);
      for (const std::string& n : names) KernelClassNamesList->addItem(QString::fromStdString(n));
      if (ResamplerClassNamesList->count() > 1) ResamplerClassNamesList->setCurrentIndex(1);
      if (KernelClassNamesList->count() > 0) KernelClassNamesList->setCurrentIndex(0);
      fEnv.ResamplerClassName = ResamplerClassNamesList->currentText().toStdString();
      fEnv.KernelClassName = KernelClassNamesList->currentText().toStdString();
    }
    // 3. LayerKinds starts empty.
    fLayerKinds.clear();
    // 4. The first template's preview and name.
    TemplateUpDownClick();
    // 5. Titled after the executable.
    const QString title = TitleFromExecutable(fPaths.ExecutableFileName);
    SetApplicationTitle(title);
    setWindowTitle(title);
    // 6. The look named in the data folder.
    const std::string skinFile = fPaths.DataFolder + "Data" + core::kPathSeparator + "SkinName.dat";
    const std::vector<std::string> skin = core::ReadTextFileLines(skinFile);
    fSkinManager.SkinDirectory = fPaths.DataFolder + "Data";
    if (skin.empty()) throw EListError(Format(kEmptySkinFile, skinFile.c_str()));
    fSkinManager.SkinName = skin.front();
    fSkinManager.SetActive(true);
  });
}

void TForm1::ConnectHandlers() {
  auto on = [this](auto* sender, auto signal, void (TForm1::*handler)()) {
    connect(sender, signal, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  };
  on(SaveButton, &QToolButton::clicked, &TForm1::SaveButtonClick);
  on(AboutToolButton, &QToolButton::clicked, &TForm1::AboutToolButtonClick);
  on(ApplyTempButton, &QPushButton::clicked, &TForm1::ApplyTempButtonClick);
  on(TemplateUpDown, &TUpDown::Click, &TForm1::TemplateUpDownClick);
  on(LayerSourceUpDown, &TUpDown::Click, &TForm1::LayerSourceUpDownClick);
  on(LayerSourceImg, &TPictureBox::Click, &TForm1::LayerSourceImgClick);
  on(LayerSourceColorSelect, &TColorSelect::Change, &TForm1::LayerSourceColorSelectChange);
  on(WidthSpinEdit, &TSpinEdit::TextChange, &TForm1::WidthSpinEditChange);
  on(HeightSpinEdit, &TSpinEdit::TextChange, &TForm1::HeightSpinEditChange);
  on(ShowReflectionCheckBox, &QCheckBox::clicked, &TForm1::ShowReflectionCheckBoxClick);
  on(FadeReflectionCheckBox, &QCheckBox::clicked, &TForm1::FadeReflectionCheckBoxClick);
  on(OpacityReflectionTrackBar, &QSlider::valueChanged, &TForm1::OpacityReflectionTrackBarChange);
  on(OpacityReflectionTrackBar, &TTrackBar::MouseUp, &TForm1::OpacityReflectionTrackBarMouseUp);
  on(BlurReflectionTrackBar, &TTrackBar::MouseUp, &TForm1::BlurReflectionTrackBarMouseUp);
  on(ReflectionBrightnessTrackBar, &TTrackBar::MouseUp, &TForm1::ReflectionBrightnessTrackBarMouseUp);
  on(ReflectionLengthTrackBar, &TTrackBar::MouseUp, &TForm1::ReflectionLengthTrackBarMouseUp);
  on(ShadowDensityTrackBar, &QSlider::valueChanged, &TForm1::ShadowDensityTrackBarChange);
  on(ShadowDensityTrackBar, &TTrackBar::MouseUp, &TForm1::ShadowDensityTrackBarMouseUp);
  on(ShadowColorSelect, &TColorSelect::Change, &TForm1::ShadowColorSelectChange);
  on(BlurShadowTrackBar, &TTrackBar::MouseUp, &TForm1::BlurShadowTrackBarMouseUp);
  on(ShowShadowCheckBox, &QCheckBox::clicked, &TForm1::ShowShadowCheckBoxClick);
  on(ObjectShadingTrackBar, &QSlider::valueChanged, &TForm1::ObjectShadingTrackBarChange);
  on(ObjectShadingTrackBar, &TTrackBar::MouseUp, &TForm1::ObjectShadingTrackBarMouseUp);
  on(ObjectHighlightTrackBar, &QSlider::valueChanged, &TForm1::ObjectHighlightTrackBarChange);
  on(ObjectHighlightTrackBar, &TTrackBar::MouseUp, &TForm1::ObjectHighlightTrackBarMouseUp);
  on(ObjectShadingColorSelect, &TColorSelect::Change, &TForm1::ObjectShadingColorSelectChange);
  on(ObjectHighlightColorSelect, &TColorSelect::Change, &TForm1::ObjectHighlightColorSelectChange);
  on(TrBckCheckBox, &QCheckBox::clicked, &TForm1::TrBckCheckBoxClick);
  on(LarDiAreaCheckBox, &QCheckBox::clicked, &TForm1::LarDiAreaCheckBoxClick);
  on(ResamplerClassNamesList, &QComboBox::currentIndexChanged, &TForm1::ResamplerClassNamesListChange);
  on(KernelClassNamesList, &QComboBox::currentIndexChanged, &TForm1::KernelClassNamesListChange);
  connect(LayerSourcePanel, &TCaptionPanel::FileDropped, this,
          [this](const QString& file) { Guarded([&] { LayerSourcePanelDrop(file.toStdString()); }); });
  connect(ImgView, &TPreviewWidget::FileDropped, this,
          [this](const QString& file) { Guarded([&] { ImgViewDrop(file.toStdString()); }); });
}

void TForm1::Guarded(const std::function<void()>& Handler) {
  try {
    Handler();
  } catch (const std::exception& e) {
    ReportError(e);
  }
}

void TForm1::ReportError(const std::exception& Error) {
  fServices.ShowError(this, ApplicationTitle(), QString::fromStdString(core::ErrorReportText(Error.what())));
}

// ---- Rendering --------------------------------------------------------------------------------

void TForm1::Rerender() {
  const TBusyPointer busy(fServices);
  ++fRenderCount;
  const std::int32_t width = WidthSpinEdit->Value();
  const std::int32_t height = HeightSpinEdit->Value();
  // The render puts the background picture layer at the bottom of the stack before the template
  // layers; the visibility switches count from above it.
  fBackgroundLayer = !RenderSettings.TransparentBackground && !RenderSettings.SlotUsesColor[core::ssBackground];
  core::ApplyTemplate(View(), width, height, fEnv);
  emit Rendered(width, height);
}

void TForm1::ApplyTempButtonClick() { Rerender(); }

void TForm1::WidthSpinEditChange() {
  if (WidthSpinEdit->Value() >= WidthSpinEdit->minimum()) Rerender();
}

void TForm1::HeightSpinEditChange() {
  if (HeightSpinEdit->Value() >= HeightSpinEdit->minimum()) Rerender();
}

// ---- Source panel -----------------------------------------------------------------------------

void TForm1::LayerSourceUpDownClick() {
  RenderSettings.CurrentSlot = LayerSourceUpDown->Position();
  const std::int32_t slot = RenderSettings.CurrentSlot;
  LayerSourceCaption->SetCaption(SlotCaption(slot));
  const std::string& file = SourceFiles[slot];
  LayerSourceImg->SetPicture(file.empty() ? QImage() : LoadPicture(file));
  LayerSourceColorSelect->SetColor(RenderSettings.SlotColor[slot]);
}

void TForm1::LayerSourceImgClick() {
  const auto file = fServices.OpenPicture(this, QStringLiteral("Choose Picture"), imagefiles::GraphicFilter());
  if (!file) return;
  AssignSourcePicture(RenderSettings.CurrentSlot, *file);
}

void TForm1::AssignSourcePicture(std::int32_t Slot, const std::string& FileName) {
  // Loaded before anything is stored: a picture that cannot be read is reported and the slot
  // keeps the picture or colour it had.
  const QImage picture = LoadPicture(FileName);
  SourceFiles[Slot] = FileName;
  if (Slot == RenderSettings.CurrentSlot) LayerSourceImg->SetPicture(picture);
  RenderSettings.SlotUsesColor[Slot] = false;
  Rerender();
}

void TForm1::LayerSourcePanelDrop(const std::string& FileName) {
  AssignSourcePicture(RenderSettings.CurrentSlot, FileName);
}

void TForm1::ImgViewDrop(const std::string& FileName) { AssignSourcePicture(core::ssFront, FileName); }

void TForm1::LayerSourceColorSelectChange() {
  RenderSettings.SlotColor[RenderSettings.CurrentSlot] = LayerSourceColorSelect->Color();
  RenderSettings.SlotUsesColor[RenderSettings.CurrentSlot] = true;
  Rerender();
}

// ---- Template chooser -------------------------------------------------------------------------

void TForm1::TemplateUpDownClick() {
  RenderSettings.CurrentTemplate = TemplateUpDown->Position();
  const std::vector<std::string> templates = core::ListTemplates(fEnv.TemplatesFolder);
  const std::string name = core::TemplateDisplayName(core::TemplateEntry(templates, RenderSettings.CurrentTemplate));
  // Loaded before anything changes: a missing preview leaves the old picture and caption.
  const QImage preview = LoadPicture(core::TemplatePreviewPath(fPaths.DataFolder, name));
  TemplateImage->SetPicture(preview);
  TemplateCaption->SetCaption(QString::fromStdString(name));
}

// ---- Settings ---------------------------------------------------------------------------------

void TForm1::SetKindsVisible(bool Shadow, bool Visible) {
  const TBusyPointer busy(fServices);
  auto matches = [Shadow](const std::string& kind) {
    if (Shadow) return kind == "shadow";
    return kind == "reflection" || kind == "blurshade" || kind == "blurhighlight" || kind == "customcolorreflection" ||
           kind == "discreflection";
  };
  raster::TLayerCollection& layers = View().Layers();
  const std::int32_t first = fBackgroundLayer ? 1 : 0;
  for (std::size_t i = 0; i < fLayerKinds.size(); ++i) {
    const std::int32_t index = first + static_cast<std::int32_t>(i);
    if (!matches(fLayerKinds[i]) || index >= layers.Count()) continue;
    layers.LayerAt(index).SetVisible(Visible);
  }
}

void TForm1::ShowReflectionCheckBoxClick() {
  RenderSettings.ShowReflection = ShowReflectionCheckBox->isChecked();
  SetKindsVisible(false, RenderSettings.ShowReflection);
}

void TForm1::ShowShadowCheckBoxClick() {
  RenderSettings.ShowShadow = ShowShadowCheckBox->isChecked();
  SetKindsVisible(true, RenderSettings.ShowShadow);
}

void TForm1::FadeReflectionCheckBoxClick() {
  RenderSettings.FadeReflection = FadeReflectionCheckBox->isChecked();
  Rerender();
}

void TForm1::OpacityReflectionTrackBarMouseUp() {
  RenderSettings.ReflectionOpacity = static_cast<std::uint8_t>(OpacityReflectionTrackBar->value());
  Rerender();
}

void TForm1::BlurReflectionTrackBarMouseUp() {
  RenderSettings.ReflectionBlur = static_cast<std::uint8_t>(BlurReflectionTrackBar->value());
  Rerender();
}

void TForm1::ReflectionBrightnessTrackBarMouseUp() {
  RenderSettings.ReflectionBrightness = ReflectionBrightnessTrackBar->value();
  Rerender();
}

void TForm1::ReflectionLengthTrackBarMouseUp() {
  RenderSettings.ReflectionLength = static_cast<std::uint8_t>(ReflectionLengthTrackBar->value());
  Rerender();
}

void TForm1::ShadowDensityTrackBarMouseUp() {
  RenderSettings.ShadowDensity = static_cast<std::uint8_t>(ShadowDensityTrackBar->value());
  Rerender();
}

void TForm1::ShadowColorSelectChange() {
  RenderSettings.ShadowColor = ShadowColorSelect->Color();
  Rerender();
}

void TForm1::BlurShadowTrackBarMouseUp() {
  RenderSettings.ShadowBlur = static_cast<std::uint8_t>(BlurShadowTrackBar->value());
  Rerender();
}

void TForm1::ObjectShadingTrackBarMouseUp() {
  RenderSettings.ShadingStrength = static_cast<std::uint8_t>(ObjectShadingTrackBar->value());
  Rerender();
}

void TForm1::ObjectHighlightTrackBarMouseUp() {
  RenderSettings.HighlightStrength = static_cast<std::uint8_t>(ObjectHighlightTrackBar->value());
  Rerender();
}

void TForm1::ObjectShadingColorSelectChange() {
  RenderSettings.ShadingColor = ObjectShadingColorSelect->Color();
  Rerender();
}

void TForm1::ObjectHighlightColorSelectChange() {
  RenderSettings.HighlightColor = ObjectHighlightColorSelect->Color();
  Rerender();
}

void TForm1::TrBckCheckBoxClick() {
  RenderSettings.TransparentBackground = TrBckCheckBox->isChecked();
  Rerender();
}

void TForm1::LarDiAreaCheckBoxClick() {
  RenderSettings.LargeDiscArea = LarDiAreaCheckBox->isChecked();
  Rerender();
}

void TForm1::ResamplerClassNamesListChange() {
  fEnv.ResamplerClassName = ResamplerClassNamesList->currentText().toStdString();
  fEnv.KernelClassName = KernelClassNamesList->currentText().toStdString();
  const std::optional<bool> showKernels =
      raster::ResamplerClassNamesListChange(View(), fEnv.ResamplerClassName, fEnv.KernelClassName);
  if (showKernels) KernelClassNamesList->setVisible(*showKernels);
}

void TForm1::KernelClassNamesListChange() {
  fEnv.KernelClassName = KernelClassNamesList->currentText().toStdString();
  raster::KernelClassNamesListChange(View(), fEnv.KernelClassName);
}

// ---- Save and about ---------------------------------------------------------------------------

void TForm1::SaveButtonClick() {
  // Flattened before the dialog opens: the canvas and the visible layers at scale 1, the
  // size of the last render.
  raster::TBitmap32& canvas = View().Bitmap();
  raster::TBitmap32 flat;
  flat.SetSize(canvas.Width(), canvas.Height());
  flat.Clear(0);
  View().PaintInto(flat, raster::TRect{0, 0, canvas.Width(), canvas.Height()});
  const auto file = fServices.SavePicture(this, kSaveFilter, kSaveDefaultExt, fLastSaveName);
  if (!file) return;
  fLastSaveName = *file;
  imagefiles::SavePicture(flat, *file, DpiSpinEdit->Value(), FlipCheckBox->isChecked());
}

void TForm1::AboutToolButtonClick() {
  if (fAboutBox == nullptr) return;
  fAboutBox->ShowModalOver(this);
}

void TForm1::closeEvent(QCloseEvent* Event) {
  // FormClose: the preview goes first, then the look.
  ImgView->hide();
  fSkinManager.SetActive(false);
  QWidget::closeEvent(Event);
}

}  // namespace quirlon::app
