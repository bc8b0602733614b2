// Undo and redo of the window's values: a drag is one step, keys undo and redo, and what is
// undone is what renders.
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QSignalBlocker>
#include <QTest>

#include "AppTestSupport.h"

namespace quirlon::app::test {

class AppUndoTest : public QObject {
  Q_OBJECT
  std::unique_ptr<TDataFolder> fData;
  TTestServices fServices;
  std::unique_ptr<MainWindow> fWindow;

  void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { PressOnArrows(*fWindow, key, modifiers); }
  // The corner of the picture the window shows now, through the clipboard.
  QRgb Corner() {
    Settle(*fWindow);
    Press(Qt::Key_C, Qt::ControlModifier);
    return QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_ARGB32).pixel(0, 0);
  }

private slots:
  void init() {
    fServices = TTestServices{};
    fData = std::make_unique<TDataFolder>();
    fWindow = MakeWindow(fServices, *fData);
    ShowWindow(*fWindow);
    // Set as a user would, so the size is where the steps start from.
    Ui(*fWindow).outputWidth->setValue(64);
    Ui(*fWindow).outputHeight->setValue(48);
    Settle(*fWindow);
    fWindow->UndoStack().clear();
  }
  void cleanup() {
    QCOMPARE(fServices.BusyDepth, 0);
    QVERIFY(fServices.Errors.isEmpty());
    fWindow.reset();
    fData.reset();
  }

  void aDragIsOneStep() {
    TTrackBar* bar = Ui(*fWindow).reflectionOpacity;
    const int start = bar->value();
    bar->setSliderDown(true);  // pressed on the handle
    for (int v : {200, 150, 100, 60}) bar->setValue(v);
    bar->setSliderDown(false);  // released
    QCOMPARE(fWindow->State().Settings.ReflectionOpacity, 60);
    QCOMPARE(fWindow->UndoStack().count(), 1);
    Press(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(bar->value(), start);
    QCOMPARE(int(fWindow->State().Settings.ReflectionOpacity), start);
    Press(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(bar->value(), 60);
    QCOMPARE(fWindow->State().Settings.ReflectionOpacity, 60);
    // A second drag of the same bar is a step of its own.
    bar->setSliderDown(true);
    bar->setValue(30);
    bar->setSliderDown(false);
    QCOMPARE(fWindow->UndoStack().count(), 2);
    Press(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(bar->value(), 60);
  }

  void productPageChangesAreSteps() {
    auto* kind = fWindow->findChild<QComboBox*>(QStringLiteral("productKind"));
    QVERIFY(kind != nullptr);
    kind->setCurrentIndex(kind->findText(QStringLiteral("paperback")));
    Settle(*fWindow);
    QCOMPARE(fWindow->State().Product.Kind, std::string("paperback"));
    QCOMPARE(fWindow->UndoStack().count(), 1);
    const QRgb product = Corner();
    Press(Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(fWindow->State().Product.Kind.empty());
    QCOMPARE(kind->currentIndex(), 0);
    Settle(*fWindow);
    QVERIFY(fServices.Errors.isEmpty());
    Press(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(kind->currentText(), QStringLiteral("paperback"));
    QCOMPARE(fWindow->State().Product.Kind, std::string("paperback"));
    QCOMPARE(Corner(), product);
  }

  void keyStepsOfABarAreStepsEach() {
    TTrackBar* bar = Ui(*fWindow).shadowBlur;
    Ui(*fWindow).effectPages->setCurrentIndex(1);
    bar->setFocus();
    const int start = bar->value();
    QTest::keyClick(bar, Qt::Key_Right);
    QTest::keyClick(bar, Qt::Key_Right);
    QCOMPARE(bar->value(), start + 2);
    Press(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(int(fWindow->State().Settings.ShadowBlur), start + 1);
    Press(Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(int(fWindow->State().Settings.ShadowBlur), start + 2);
  }

  void undoneValuesAreWhatRenders() {
    // Opaque at first; a transparent background, then a red background colour.
    QCOMPARE(qAlpha(Corner()), 255);
    QTest::mouseClick(Ui(*fWindow).transparentBackground, Qt::LeftButton);
    QCOMPARE(qAlpha(Corner()), 0);
    QTest::mouseClick(Ui(*fWindow).transparentBackground, Qt::LeftButton);
    fServices.ColorAnswers.push_back(raster::TColor(0x0000FF));  // red, as 0x00BBGGRR
    QTest::mouseClick(Ui(*fWindow).sourceColour, Qt::LeftButton);
    QCOMPARE(QColor(Corner()), QColor(255, 0, 0));
    QCOMPARE(fWindow->UndoStack().count(), 3);

    Press(Qt::Key_Z, Qt::ControlModifier);  // the colour
    QVERIFY(QColor(Corner()) != QColor(255, 0, 0));
    Press(Qt::Key_Z, Qt::ControlModifier);  // switched off again: transparent
    QVERIFY(Ui(*fWindow).transparentBackground->isChecked());
    QCOMPARE(qAlpha(Corner()), 0);
    Press(Qt::Key_Y, Qt::ControlModifier);
    Press(Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(QColor(Corner()), QColor(255, 0, 0));
    QCOMPARE(Ui(*fWindow).sourceColour->Color(), raster::TColor(0x0000FF));
  }

  void templateAndSizeAreUndone() {
    Press(Qt::Key_PageDown);
    QCOMPARE(fWindow->State().Template, 2);
    QCOMPARE(fWindow->UndoStack().count(), 1);
    // Typing a width is one step, however many keys it takes.
    TSpinEdit* width = Ui(*fWindow).outputWidth;
    width->setFocus();
    width->selectAll();
    QTest::keyClicks(width, "120");
    QCOMPARE(width->Value(), 120);
    QCOMPARE(fWindow->UndoStack().count(), 2);
    Press(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(width->Value(), 64);
    QCOMPARE(fWindow->State().Template, 2);
    Press(Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(fWindow->State().Template, 1);
    QCOMPARE(Ui(*fWindow).templateArrows->Position(), 1);
    Settle(*fWindow);
    QCOMPARE(fWindow->Result().Width(), 64);
    QCOMPARE(fWindow->LayerKinds(), LayerTypesOf(fData->File("Templates/" + fData->Templates().front())));
  }
};

QUIRLON_APP_TEST(AppUndoTest);

}  // namespace quirlon::app::test

#include "UndoTest.moc"
