#include "app/ProductPage.h"

#include "app/MainWindow.h"
#include "app/TurntableDialog.h"
#include "core/Template.h"

#include <cmath>

#include <QSignalBlocker>

#include "core/ProductScene.h"

namespace quirlon::app {

namespace {

template <class W>
W* Place(W* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(left, top, width, height);
  return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top, int width) {
  return Place(new QLabel(text, parent), name, left, top, width, 22);
}

QString DegreesText(int Degrees) { return QString::number(Degrees) + QChar(0x00B0); }

// The whole degrees of Range a slider can reach.
std::pair<int, int> SliderRange(const core::TAngleRange& Range) {
  return {static_cast<int>(std::ceil(Range.Min)), static_cast<int>(std::floor(Range.Max))};
}

}  // namespace

bool IsBook(const core::TProductKind& Kind) {
  const core::TFaceFill* edges = Kind.FillOf("right");
  return edges != nullptr && edges->Source == core::kPageEdgeColour;
}

ProductPage::ProductPage(QWidget* Parent) : QWidget(Parent) {
  setObjectName(QStringLiteral("productPage"));
  BuildControls();
  Show(core::TProductJob{});
}

void ProductPage::BuildControls() {
  MakeLabel(this, "productKindLabel", QStringLiteral("Kind"), 8, 6, 28);
  fProductKind = Place(new QComboBox(this), "productKind", 38, 6, 92, 22);
  fProductKind->addItem(QString::fromLatin1(kNoProductEntry));
  for (const core::TProductKind& kind : core::ProductKinds())
    fProductKind->addItem(QString::fromLatin1(kind.Name.data(), static_cast<qsizetype>(kind.Name.size())));

  auto sizeField = [this](const char* name, int left) {
    auto* field = Place(new QDoubleSpinBox(this), name, left, 6, 64, 22);
    // Typing renders once, on Enter or when the field loses the focus.
    field->setKeyboardTracking(false);
    return field;
  };
  MakeLabel(this, "productWidthLabel", QStringLiteral("Width"), 138, 6, 32);
  fProductWidth = sizeField("productWidth", 172);
  MakeLabel(this, "productHeightLabel", QStringLiteral("Height"), 242, 6, 36);
  fProductHeight = sizeField("productHeight", 280);
  MakeLabel(this, "productDepthLabel", QStringLiteral("Depth"), 350, 6, 34);
  fProductDepth = sizeField("productDepth", 386);
  fProductUnit = Place(new QComboBox(this), "productUnit", 456, 6, 46, 22);
  fProductUnit->addItems({QStringLiteral("mm"), QStringLiteral("in")});
  fFitToArtwork = Place(new QCheckBox(QStringLiteral("Fit to artwork"), this), "fitToArtwork", 510, 6, 110, 22);

  MakeLabel(this, "productYawLabel", QStringLiteral("Yaw"), 8, 30, 28);
  fProductYaw = Place(new TTrackBar(-180, 180, 0, this), "productYaw", 38, 30, 140, 22);
  fProductYawValue = MakeLabel(this, "productYawValue", {}, 180, 30, 36);
  MakeLabel(this, "productPitchLabel", QStringLiteral("Pitch"), 222, 30, 30);
  fProductPitch = Place(new TTrackBar(0, 40, 0, this), "productPitch", 254, 30, 100, 22);
  fProductPitchValue = MakeLabel(this, "productPitchValue", {}, 356, 30, 30);
  MakeLabel(this, "productPagesLabel", QStringLiteral("Pages"), 392, 30, 32);
  fProductPages = Place(new QSpinBox(this), "productPages", 426, 30, 56, 22);
  // 0: the depth field gives the spine.
  fProductPages->setRange(0, core::kMaxPages);
  fProductPages->setSpecialValueText(QStringLiteral("-"));
  fProductPages->setKeyboardTracking(false);
  fProductPaper = Place(new QComboBox(this), "productPaper", 486, 30, 62, 22);
  fProductPaper->addItems({QStringLiteral("white"), QStringLiteral("cream")});

  fSplitWrap = Place(new QPushButton(QStringLiteral("Split full cover wrap") + QChar(0x2026), this), "splitWrap", 8,
                     54, 150, 22);
  fSaveTemplate =
      Place(new QPushButton(QStringLiteral("Save as template") + QChar(0x2026), this), "saveTemplate", 164, 54, 124, 22);
  fTurntable = Place(new QPushButton(QStringLiteral("Turntable") + QChar(0x2026), this), "turntable", 294, 54, 90, 22);
  fProductStatus = MakeLabel(this, "productStatus", {}, 390, 54, 236);

  const std::pair<QWidget*, const char*> tips[] = {
      {fProductYaw, "Yaw: the turn of the product"},
      {fProductPitch, "Pitch: the tilt of the product"},
      {fProductKind, "The product made from its dimensions, or none for the chosen template"},
      {fProductWidth, "The product's width"},
      {fProductHeight, "The product's height"},
      {fProductDepth, "The product's depth"},
      {fProductUnit, "Millimetres or inches"},
      {fFitToArtwork, "Take the product's proportions from its artwork"},
      {fProductPages, "Pages of a book: the spine follows from them and the paper"},
      {fProductPaper, "The paper of the pages, which sets the spine's thickness"},
      {fSplitWrap, "Split a full cover wrap into back, spine and front"},
      {fSaveTemplate, "Save this product as a template of your own"},
      {fTurntable, "Watch the product turn once round and save it as an animation"},
  };
  for (const auto& [control, tip] : tips) control->setToolTip(QString::fromUtf8(tip));

  connect(fProductKind, &QComboBox::currentIndexChanged, this, [this] { KindChosen(); });
  connect(fProductUnit, &QComboBox::currentIndexChanged, this, [this] { UnitChosen(); });
  connect(fProductWidth, &QDoubleSpinBox::valueChanged, this, [this] { SizeEdited(fProductWidth, fWidth); });
  connect(fProductHeight, &QDoubleSpinBox::valueChanged, this, [this] { SizeEdited(fProductHeight, fHeight); });
  connect(fProductDepth, &QDoubleSpinBox::valueChanged, this, [this] { SizeEdited(fProductDepth, fDepth); });
  auto spineChanged = [this] {
    ShowSizes();
    UpdateAngleRanges();
    emit Changed();
  };
  connect(fProductPages, &QSpinBox::valueChanged, this, spineChanged);
  connect(fProductPaper, &QComboBox::currentIndexChanged, this, spineChanged);
  connect(fFitToArtwork, &QCheckBox::clicked, this, [this] { emit Changed(); });
  for (TTrackBar* slider : {fProductYaw, fProductPitch}) {
    connect(slider, &QSlider::valueChanged, this, [this] { ShowAngleValues(); });
    connect(slider, &TTrackBar::MouseUp, this, [this] { emit Changed(); });
  }
  connect(fSplitWrap, &QPushButton::clicked, this, [this] { emit SplitWrapClicked(); });
  connect(fSaveTemplate, &QPushButton::clicked, this, [this] { emit SaveTemplateClicked(); });
  connect(fTurntable, &QPushButton::clicked, this, [this] {
    if (TurntableDialog* dialog = OpenTurntable()) dialog->show();
  });
}

const core::TProductKind* ProductPage::CurrentKind() const {
  if (fProductKind->currentIndex() <= 0) return nullptr;
  return core::FindProductKind(fProductKind->currentText().toStdString());
}

bool ProductPage::Inches() const { return fProductUnit->currentIndex() == 1; }

void ProductPage::Show(const core::TProductJob& Job) {
  const QSignalBlocker blockers[] = {QSignalBlocker(fProductKind),  QSignalBlocker(fProductPages),
                                     QSignalBlocker(fProductPaper), QSignalBlocker(fProductYaw),
                                     QSignalBlocker(fProductPitch), QSignalBlocker(fFitToArtwork)};
  const core::TProductKind* kind = Job.Kind.empty() ? nullptr : core::FindProductKind(Job.Kind);
  fProductKind->setCurrentIndex(kind == nullptr ? 0 : fProductKind->findText(QString::fromStdString(Job.Kind)));
  if (kind != nullptr) {
    fWidth = Job.Size ? Job.Size->Width : kind->Width;
    fHeight = Job.Size ? Job.Size->Height : kind->Height;
    fDepth = Job.Size && Job.Size->Depth > 0 ? Job.Size->Depth : kind->Depth;
  }
  fProductPages->setValue(Job.Pages);
  fProductPaper->setCurrentIndex(Job.Paper == core::TPaper::Cream ? 1 : 0);
  fFitToArtwork->setChecked(Job.FitArt);
  ShowSizes();
  UpdateAngleRanges();
  if (kind != nullptr) {
    fProductYaw->setValue(static_cast<int>(std::lround(Job.Yaw.value_or(kind->Yaw))));
    fProductPitch->setValue(static_cast<int>(std::lround(Job.Pitch.value_or(kind->Pitch))));
  }
  ShowAngleValues();
}

core::TProductJob ProductPage::Job(const core::TProductJob& Base) const {
  core::TProductJob job;
  const core::TProductKind* kind = CurrentKind();
  if (kind == nullptr) return job;
  job.Kind = std::string(kind->Name);
  if (Base.Kind == job.Kind) {
    job.Wrap = Base.Wrap;
    job.Bleed = Base.Bleed;
  }
  core::TProductSize size{fWidth, fHeight, fDepth};
  if (kind->Solid == core::TSolid::Disc) size = {fWidth, fWidth, 0};
  if (kind->Solid == core::TSolid::Card) size.Depth = 0;
  job.Size = size;
  if (IsBook(*kind)) {
    job.Pages = fProductPages->value();
    job.Paper = fProductPaper->currentIndex() == 1 ? core::TPaper::Cream : core::TPaper::White;
  }
  job.Yaw = fProductYaw->value();
  job.Pitch = fProductPitch->value();
  job.FitArt = fFitToArtwork->isChecked();
  return job;
}

void ProductPage::SetStatus(const QString& Text) {
  fProductStatus->setText(Text);
  fProductStatus->setToolTip(Text);
}

QString ProductPage::Status() const { return fProductStatus->text(); }

void ProductPage::KindChosen() {
  // A new kind starts from its usual size and view.
  if (const core::TProductKind* kind = CurrentKind()) {
    fWidth = kind->Width;
    fHeight = kind->Height;
    fDepth = kind->Depth;
    const QSignalBlocker blockPages(fProductPages);
    fProductPages->setValue(0);
    ShowSizes();
    UpdateAngleRanges();
    const QSignalBlocker blockYaw(fProductYaw), blockPitch(fProductPitch);
    fProductYaw->setValue(static_cast<int>(std::lround(kind->Yaw)));
    fProductPitch->setValue(static_cast<int>(std::lround(kind->Pitch)));
  } else {
    ShowSizes();
    UpdateAngleRanges();
  }
  ShowAngleValues();
  emit Changed();
}

void ProductPage::UnitChosen() { ShowSizes(); }

void ProductPage::SizeEdited(QDoubleSpinBox* Field, double& Millimetres) {
  Millimetres = Inches() ? Field->value() * core::kMillimetresPerInch : Field->value();
  // A thin product may be seen from fewer angles.
  UpdateAngleRanges();
  emit Changed();
}

void ProductPage::ShowSizes() {
  const core::TProductKind* kind = CurrentKind();
  const bool inches = Inches();
  const double unit = inches ? core::kMillimetresPerInch : 1;
  const bool book = kind != nullptr && IsBook(*kind);
  const bool spineFromPages = book && fProductPages->value() > 0;
  double depth = fDepth;
  if (spineFromPages) {
    const auto paper = fProductPaper->currentIndex() == 1 ? core::TPaper::Cream : core::TPaper::White;
    // A page count out of range is refused by the render, which names the range.
    if (fProductPages->value() >= core::kMinPages) depth = core::SpineThickness(fProductPages->value(), paper);
  }
  struct TField {
    QDoubleSpinBox* Field;
    double Min, Max, Value;
    bool Enabled;
  };
  const bool solidBox = kind != nullptr && kind->Solid == core::TSolid::Box;
  const TField fields[] = {
      {fProductWidth, core::kMinSide, core::kMaxSide, fWidth, kind != nullptr},
      {fProductHeight, core::kMinSide, core::kMaxSide, kind != nullptr && kind->Solid == core::TSolid::Disc ? fWidth : fHeight,
       kind != nullptr && kind->Solid != core::TSolid::Disc},
      {fProductDepth, core::kMinDepth, core::kMaxDepth, depth, solidBox && !spineFromPages},
  };
  for (const TField& f : fields) {
    const QSignalBlocker block(f.Field);
    f.Field->setDecimals(inches ? 3 : 1);
    f.Field->setSingleStep(inches ? 0.125 : 1);
    f.Field->setRange(f.Min / unit, f.Max / unit);
    f.Field->setValue(f.Value / unit);
    f.Field->setEnabled(f.Enabled);
  }
  fProductUnit->setEnabled(kind != nullptr);
  fProductPages->setEnabled(book);
  fProductPaper->setEnabled(book);
  fFitToArtwork->setEnabled(kind != nullptr);
  fProductYaw->setEnabled(kind != nullptr);
  fProductPitch->setEnabled(kind != nullptr);
  fSplitWrap->setEnabled(solidBox);
  fSaveTemplate->setEnabled(kind != nullptr);
}

void ProductPage::UpdateAngleRanges() {
  const core::TProductKind* kind = CurrentKind();
  if (kind == nullptr) return;
  core::TProductScene scene;
  core::TProduct product;
  product.Kind = std::string(kind->Name);
  product.Width = fWidth;
  product.Height = fHeight;
  product.Depth = kind->Solid == core::TSolid::Box ? fDepth : 0;
  const bool book = IsBook(*kind);
  if (book && fProductPages->value() >= core::kMinPages && fProductPages->value() <= core::kMaxPages)
    product.Depth = core::SpineThickness(fProductPages->value(),
                                         fProductPaper->currentIndex() == 1 ? core::TPaper::Cream : core::TPaper::White);
  scene.Products.push_back(product);
  const auto [yawMin, yawMax] = SliderRange(core::YawRange(scene));
  const auto [pitchMin, pitchMax] = SliderRange(core::PitchRange(scene));
  // Values beyond the new ends are brought to them; the change that follows renders them.
  fProductYaw->setRange(yawMin, yawMax);
  fProductPitch->setRange(pitchMin, pitchMax);
  const QString yawRange = QString::fromStdString(core::YawRange(scene).Text());
  fProductYaw->setToolTip(QStringLiteral("Yaw: ") + yawRange);
  fProductPitch->setToolTip(QStringLiteral("Pitch: ") + QString::fromStdString(core::PitchRange(scene).Text()));
}

void ProductPage::ShowAngleValues() {
  const bool on = CurrentKind() != nullptr;
  fProductYawValue->setText(on ? DegreesText(fProductYaw->value()) : QString());
  fProductPitchValue->setText(on ? DegreesText(fProductPitch->value()) : QString());
}

core::TJob ProductPage::TurntableJob() const {
  core::TJob job;
  const auto* window = qobject_cast<const MainWindow*>(this->window());
  job.Product = Job(window != nullptr ? window->State().Product : core::TProductJob());
  // The turn sets the yaw; the page's pitch stays.
  job.Product.Yaw.reset();
  job.Product.SaveTemplate.clear();
  if (window != nullptr) {
    const TWindowState& state = window->State();
    job.Request.Settings = state.Settings;
    job.Request.Sources = state.Sources;
    job.Request.TransparentBackground = state.TransparentBackground;
    job.Request.LargeDiscArea = state.LargeDiscArea;
    job.Request.CustomFolder = window->Paths().DataFolder + core::kCustomFolder;
    if (window->Result().Width() > 0) {
      job.Request.Width = window->Result().Width();
      job.Request.Height = window->Result().Height();
    }
  }
  return job;
}

TurntableDialog* ProductPage::OpenTurntable() {
  if (CurrentKind() == nullptr) {
    SetStatus(QStringLiteral("Choose a product kind to turn"));
    return nullptr;
  }
  auto* dialog = new TurntableDialog(TurntableJob(), this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  return dialog;
}

}  // namespace quirlon::app
