#pragma once
// The few controls the window needs beyond Qt's own: a panel with a centred caption, a horizontal
// arrow pair, a number field that follows the typed text, a track bar that reports the mouse
// release, a colour button, a clickable stretched picture and the preview over the view model.
#include <cstdint>
#include <string>

#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QWidget>

#include "raster/Color.h"
#include "app/PreviewFrame.h"
#include "view/ImgView32.h"

namespace quirlon::app {

class TWindowServices;

// The platform's sans-serif at a pixel size, preferring faces of the usual UI widths so that
// captions fit the fixed layout.
QFont SansFont(int Pixels);

// A label that keeps its position and grows to the right when its caption needs more room than
// its designed width (it never shrinks below that).
class TAutoSizeLabel : public QLabel {
  Q_OBJECT
public:
  TAutoSizeLabel(const QString& Caption, QWidget* Parent) : QLabel(Caption, Parent) {}
  // Sets the designed geometry, then fits the caption.
  void Place(int Left, int Top, int Width, int Height);
  void SetCaption(const QString& Caption);
  int DesignWidth() const { return fDesignWidth; }

private:
  void Fit();
  int fDesignWidth = 0;
};

// A raised panel that draws its caption centred under its children; picture files dropped on it
// are reported by FileDropped.
class TCaptionPanel : public QFrame {
  Q_OBJECT
public:
  TCaptionPanel(const QString& Caption, QWidget* Parent);
  QString Caption() const { return fCaption; }
  void SetCaption(const QString& Caption);
  void SetAcceptFiles(bool Value) { setAcceptDrops(Value); }

signals:
  void FileDropped(const QString& FileName);

protected:
  void paintEvent(QPaintEvent* Event) override;
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;

private:
  QString fCaption;
};

// The first local file of a drag, or "" when the drag carries none.
QString DroppedFile(const QMimeData* Data);

// A horizontal pair of arrows stepping Position through Min..Max. Click(Next) follows every press
// of an arrow (also at the end of the range); the left and right keys act like the arrows.
class TUpDown : public QWidget {
  Q_OBJECT
public:
  TUpDown(std::int32_t Min, std::int32_t Max, std::int32_t Position, QWidget* Parent);
  std::int32_t Min() const { return fMin; }
  std::int32_t Max() const { return fMax; }
  std::int32_t Position() const { return fPosition; }
  // Sets the position (kept in range) without raising Click.
  void SetPosition(std::int32_t Value);
  // New ends; the position is brought into them without raising Click.
  void SetRange(std::int32_t Min, std::int32_t Max);
  QToolButton* PrevButton() const { return fPrev; }
  QToolButton* NextButton() const { return fNext; }

signals:
  void Click(bool Next);

protected:
  void keyPressEvent(QKeyEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

private:
  void Step(bool Next);

  std::int32_t fMin, fMax, fPosition;
  QToolButton* fPrev;
  QToolButton* fNext;
};

// A number field: only digits can be typed; a typed value above the maximum becomes the maximum
// at once, one below the minimum stays as typed (it may be the start of a larger number) until
// the field loses the focus and is then brought into range. TextChange follows every change of
// the text.
class TSpinEdit : public QSpinBox {
  Q_OBJECT
public:
  TSpinEdit(std::int32_t Min, std::int32_t Max, std::int32_t Value, QWidget* Parent);
  // The text read as a decimal integer, at most the maximum; empty or not a number gives the
  // minimum. A typed value below the minimum is returned as it is.
  std::int32_t Value() const;
  QString Text() const;

  QValidator::State validate(QString& Input, int& Pos) const override;
  void fixup(QString& Input) const override;

signals:
  void TextChange();

private:
  void NotifyTextChange();
  QString fLastText;
};

// Reads a number field's text: see TSpinEdit::Value.
std::int32_t FieldValue(const QString& Text, std::int32_t Min, std::int32_t Max);

// A track bar without tick marks. MouseUp follows every mouse release on it. While it has the
// focus, Page Up and Page Down move it rather than the window's shortcuts on those keys.
class TTrackBar : public QSlider {
  Q_OBJECT
public:
  TTrackBar(std::int32_t Min, std::int32_t Max, std::int32_t Position, QWidget* Parent);

signals:
  void MouseUp();

protected:
  bool event(QEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
};

// A colour button with a swatch of the given size. A click opens the colour dialog; every
// confirmed colour raises Change, also when it is the colour the button had. SetColor raises
// nothing. Space or Enter opens the dialog when it has the keyboard focus.
class TColorSelect : public QToolButton {
  Q_OBJECT
public:
  TColorSelect(TWindowServices& Services, raster::TColor Color, int SwatchSize, QWidget* Parent);
  raster::TColor Color() const { return fColor; }
  void SetColor(raster::TColor Value);

signals:
  void Change();

private:
  void ChooseColor();
  void UpdateSwatch();

  TWindowServices& fServices;
  raster::TColor fColor;
  int fSwatchSize;
};

// The on-screen colour of a TColor (0x00BBGGRR).
QColor ToQColor(raster::TColor Color);

// A picture stretched to its box, or nothing (transparent: what lies under it shows). A click
// (press and release inside) raises Click, and so do Space and Enter when it has the focus.
class TPictureBox : public QLabel {
  Q_OBJECT
public:
  explicit TPictureBox(QWidget* Parent);
  // Shows Picture stretched to the box; a null image empties the box.
  void SetPicture(const QImage& Picture);
  bool Empty() const { return fEmpty; }

signals:
  void Click();

protected:
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;

private:
  bool fEmpty = true;
  bool fPressed = false;
};

// A copy of Bitmap as a QImage with straight alpha (bytes B, G, R, A).
QImage ToQImage(const raster::TBitmap32& Bitmap);
// Loads a picture file of any registered format; raises the loader's errors.
QImage LoadPicture(const std::string& FileName);

// The preview: a thin widget over the view model. It keeps the model's viewport at its own size,
// repaints whenever the model asks, and copies the model's screen buffer to the screen.
class TPreviewWidget : public QWidget {
  Q_OBJECT
public:
  explicit TPreviewWidget(QWidget* Parent);
  ~TPreviewWidget() override;
  TPreviewView& View() { return fView; }
  // Tells the model the widget's current size (also before the widget is first shown).
  void SyncViewport();

signals:
  void FileDropped(const QString& FileName);

protected:
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;

private:
  TPreviewView fView;
};

}  // namespace quirlon::app
