#include "app/Controls.h"

#include <algorithm>
#include <limits>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QUrl>

#include "app/Platform.h"
#include "imagefiles/Picture.h"

namespace quirlon::app {

QFont SansFont(int Pixels) {
  QFont font;
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                    QStringLiteral("Arial"), QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica"),
                    QStringLiteral("Sans Serif")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(Pixels);
  return font;
}

// ---- TAutoSizeLabel -------------------------------------------------------------------------

void TAutoSizeLabel::Place(int Left, int Top, int Width, int Height) {
  fDesignWidth = Width;
  setGeometry(Left, Top, Width, Height);
  Fit();
}

void TAutoSizeLabel::SetCaption(const QString& Caption) {
  setText(Caption);
  Fit();
}

void TAutoSizeLabel::Fit() { resize(qMax(fDesignWidth, sizeHint().width()), height()); }

// ---- TCaptionPanel --------------------------------------------------------------------------

TCaptionPanel::TCaptionPanel(const QString& Caption, QWidget* Parent) : QFrame(Parent), fCaption(Caption) {
  setFrameStyle(QFrame::Panel | QFrame::Raised);
  setLineWidth(1);
}

void TCaptionPanel::SetCaption(const QString& Caption) {
  fCaption = Caption;
  update();
}

void TCaptionPanel::paintEvent(QPaintEvent* Event) {
  QFrame::paintEvent(Event);
  QPainter painter(this);
  painter.setFont(font());
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(contentsRect(), Qt::AlignCenter, fCaption);
}

QString DroppedFile(const QMimeData* Data) {
  if (Data == nullptr || !Data->hasUrls()) return {};
  for (const QUrl& url : Data->urls())
    if (url.isLocalFile()) return url.toLocalFile();
  return {};
}

void TCaptionPanel::dragEnterEvent(QDragEnterEvent* Event) {
  if (!DroppedFile(Event->mimeData()).isEmpty()) Event->acceptProposedAction();
}

void TCaptionPanel::dropEvent(QDropEvent* Event) {
  const QString file = DroppedFile(Event->mimeData());
  if (file.isEmpty()) return;
  Event->acceptProposedAction();
  emit FileDropped(file);
}

// ---- TUpDown --------------------------------------------------------------------------------

TUpDown::TUpDown(std::int32_t Min, std::int32_t Max, std::int32_t Position, QWidget* Parent)
    : QWidget(Parent), fMin(Min), fMax(Max), fPosition(Position), fPrev(new QToolButton(this)), fNext(new QToolButton(this)) {
  setFocusPolicy(Qt::StrongFocus);
  fPrev->setArrowType(Qt::LeftArrow);
  fNext->setArrowType(Qt::RightArrow);
  for (QToolButton* b : {fPrev, fNext}) {
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRepeat(true);
  }
  connect(fPrev, &QToolButton::clicked, this, [this] { Step(false); });
  connect(fNext, &QToolButton::clicked, this, [this] { Step(true); });
  SetPosition(Position);
}

void TUpDown::SetRange(std::int32_t Min, std::int32_t Max) {
  fMin = Min;
  fMax = std::max(Min, Max);
  SetPosition(fPosition);
}

void TUpDown::SetPosition(std::int32_t Value) {
  fPosition = Value < fMin ? fMin : (Value > fMax ? fMax : Value);
  // An arrow that cannot step further says so.
  fPrev->setEnabled(fPosition > fMin);
  fNext->setEnabled(fPosition < fMax);
}

void TUpDown::Step(bool Next) {
  SetPosition(fPosition + (Next ? 1 : -1));
  emit Click(Next);
}

void TUpDown::keyPressEvent(QKeyEvent* Event) {
  if (Event->key() == Qt::Key_Left || Event->key() == Qt::Key_Down) {
    Step(false);
  } else if (Event->key() == Qt::Key_Right || Event->key() == Qt::Key_Up) {
    Step(true);
  } else {
    QWidget::keyPressEvent(Event);
  }
}

void TUpDown::resizeEvent(QResizeEvent*) {
  const int half = width() / 2;
  fPrev->setGeometry(0, 0, half, height());
  fNext->setGeometry(half, 0, width() - half, height());
}

// ---- TSpinEdit ------------------------------------------------------------------------------

std::int32_t FieldValue(const QString& Text, std::int32_t Min, std::int32_t Max) {
  if (Text.isEmpty()) return Min;
  std::int64_t value = 0;
  for (QChar c : Text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return Min;
    value = value * 10 + (c.unicode() - '0');
    if (value > std::numeric_limits<std::int32_t>::max()) value = std::numeric_limits<std::int32_t>::max();
  }
  return value > Max ? Max : static_cast<std::int32_t>(value);
}

TSpinEdit::TSpinEdit(std::int32_t Min, std::int32_t Max, std::int32_t Value, QWidget* Parent) : QSpinBox(Parent) {
  setRange(Min, Max);
  setValue(Value);
  setSingleStep(1);
  setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  setButtonSymbols(QAbstractSpinBox::UpDownArrows);
  // Typing reaches us through the editor; the arrows, the wheel and the range correction change
  // the text with the editor's signals blocked and report through the field's own signal.
  fLastText = lineEdit()->text();
  connect(lineEdit(), &QLineEdit::textChanged, this, &TSpinEdit::NotifyTextChange);
  connect(this, &QSpinBox::textChanged, this, &TSpinEdit::NotifyTextChange);
}

void TSpinEdit::NotifyTextChange() {
  const QString text = lineEdit()->text();
  if (text == fLastText) return;
  bool digits = !text.isEmpty();
  for (QChar c : text) digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
  if (digits && (text.size() > 9 || text.toLongLong() > maximum())) {
    // Corrected as typed: the field never shows a size it will not render. Setting the text
    // comes back here with the maximum, which is then reported.
    lineEdit()->setText(QString::number(maximum()));
    return;
  }
  fLastText = text;
  emit TextChange();
}

std::int32_t TSpinEdit::Value() const { return FieldValue(Text(), minimum(), maximum()); }

QString TSpinEdit::Text() const { return lineEdit()->text(); }

QValidator::State TSpinEdit::validate(QString& Input, int&) const {
  for (QChar c : Input)
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return QValidator::Invalid;
  if (Input.isEmpty() || Input.size() > 9) return QValidator::Intermediate;
  const int v = Input.toInt();
  return v >= minimum() && v <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
}

void TSpinEdit::fixup(QString& Input) const {
  std::int64_t v = minimum();
  bool digits = !Input.isEmpty();
  for (QChar c : Input) digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
  if (digits) v = Input.size() > 9 ? maximum() : Input.toLongLong();
  if (v < minimum()) v = minimum();
  if (v > maximum()) v = maximum();
  Input = QString::number(v);
}

// ---- TTrackBar ------------------------------------------------------------------------------

TTrackBar::TTrackBar(std::int32_t Min, std::int32_t Max, std::int32_t Position, QWidget* Parent)
    : QSlider(Qt::Horizontal, Parent) {
  setRange(Min, Max);
  setValue(Position);
  setTickPosition(QSlider::NoTicks);
  setSingleStep(1);
}

bool TTrackBar::event(QEvent* Event) {
  if (Event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(Event);
    if (key->modifiers() == Qt::NoModifier && (key->key() == Qt::Key_PageUp || key->key() == Qt::Key_PageDown)) {
      Event->accept();
      return true;
    }
  }
  return QSlider::event(Event);
}

void TTrackBar::mouseReleaseEvent(QMouseEvent* Event) {
  QSlider::mouseReleaseEvent(Event);
  emit MouseUp();
}

// ---- TColorSelect ---------------------------------------------------------------------------

QColor ToQColor(raster::TColor Color) {
  const raster::TColor32 c = raster::Color32(Color);
  return QColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
}

TColorSelect::TColorSelect(TWindowServices& Services, raster::TColor Color, int SwatchSize, QWidget* Parent)
    : QToolButton(Parent), fServices(Services), fColor(Color), fSwatchSize(SwatchSize) {
  setFocusPolicy(Qt::StrongFocus);
  setIconSize(QSize(SwatchSize, SwatchSize));
  UpdateSwatch();
  connect(this, &QToolButton::clicked, this, [this] { ChooseColor(); });
}

void TColorSelect::SetColor(raster::TColor Value) {
  fColor = Value;
  UpdateSwatch();
}

void TColorSelect::ChooseColor() {
  const auto chosen = fServices.ChooseColor(window(), fColor);
  if (!chosen) return;
  SetColor(*chosen);
  emit Change();
}

void TColorSelect::UpdateSwatch() {
  QPixmap swatch(fSwatchSize, fSwatchSize);
  swatch.fill(ToQColor(fColor));
  QPainter painter(&swatch);
  painter.setPen(QColor(96, 96, 96));
  painter.drawRect(0, 0, fSwatchSize - 1, fSwatchSize - 1);
  painter.end();
  setIcon(QIcon(swatch));
}

// ---- TPictureBox ----------------------------------------------------------------------------

TPictureBox::TPictureBox(QWidget* Parent) : QLabel(Parent) {
  setScaledContents(true);
  setAutoFillBackground(false);
}

void TPictureBox::SetPicture(const QImage& Picture) {
  fEmpty = Picture.isNull();
  if (fEmpty) {
    clear();
    return;
  }
  // Kept at the box's size on the screen: a large photo need not stay in memory twice.
  const qreal ratio = devicePixelRatioF();
  const QSize target(qMax(1, qRound(width() * ratio)), qMax(1, qRound(height() * ratio)));
  QPixmap pixmap = QPixmap::fromImage(Picture.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  pixmap.setDevicePixelRatio(ratio);
  setPixmap(pixmap);
}

void TPictureBox::mousePressEvent(QMouseEvent* Event) {
  fPressed = Event->button() == Qt::LeftButton;
  QLabel::mousePressEvent(Event);
}

void TPictureBox::mouseReleaseEvent(QMouseEvent* Event) {
  const bool click = fPressed && Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint());
  fPressed = false;
  QLabel::mouseReleaseEvent(Event);
  if (click) emit Click();
}

void TPictureBox::keyPressEvent(QKeyEvent* Event) {
  const int key = Event->key();
  if (focusPolicy() != Qt::NoFocus && (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter)) {
    emit Click();
    return;
  }
  QLabel::keyPressEvent(Event);
}

QImage ToQImage(const raster::TBitmap32& Bitmap) {
  if (Bitmap.Width() <= 0 || Bitmap.Height() <= 0) return {};
  const QImage view(reinterpret_cast<const uchar*>(Bitmap.Bits()), Bitmap.Width(), Bitmap.Height(),
                    static_cast<qsizetype>(Bitmap.Width()) * 4, QImage::Format_ARGB32);
  return view.copy();
}

QImage LoadPicture(const std::string& FileName) {
  raster::TBitmap32 bitmap;
  imagefiles::LoadFromFile(bitmap, FileName);
  return ToQImage(bitmap);
}

// ---- TPreviewWidget -------------------------------------------------------------------------

TPreviewWidget::TPreviewWidget(QWidget* Parent) : QWidget(Parent) {
  setFocusPolicy(Qt::StrongFocus);
  setAcceptDrops(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  fView.OnInvalidate = [this] { update(); };
}

TPreviewWidget::~TPreviewWidget() { fView.OnInvalidate = nullptr; }

void TPreviewWidget::SyncViewport() { fView.SetViewportSize(width(), height()); }

void TPreviewWidget::resizeEvent(QResizeEvent*) { SyncViewport(); }

void TPreviewWidget::paintEvent(QPaintEvent*) {
  const raster::TBitmap32& buffer = fView.UpdateScreenBuffer();
  const raster::TRect viewport = fView.ViewportRect();
  QPainter painter(this);
  if (buffer.Width() <= 0 || buffer.Height() <= 0) return;
  const QImage screen(reinterpret_cast<const uchar*>(buffer.Bits()), buffer.Width(), buffer.Height(),
                      static_cast<qsizetype>(buffer.Width()) * 4, QImage::Format_RGB32);
  const QRect source(viewport.Left, viewport.Top, viewport.Right - viewport.Left, viewport.Bottom - viewport.Top);
  painter.drawImage(source.topLeft(), screen, source);
}

void TPreviewWidget::dragEnterEvent(QDragEnterEvent* Event) {
  if (!DroppedFile(Event->mimeData()).isEmpty()) Event->acceptProposedAction();
}

void TPreviewWidget::dropEvent(QDropEvent* Event) {
  const QString file = DroppedFile(Event->mimeData());
  if (file.isEmpty()) return;
  Event->acceptProposedAction();
  emit FileDropped(file);
}

}  // namespace quirlon::app
