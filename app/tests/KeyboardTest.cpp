// The window's keys: save, copy, template stepping, apply; and a tooltip on every control.
#include <filesystem>

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QImage>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTest>

#include "AppTestSupport.h"

namespace quirlon::app::test {

class AppKeyboardTest : public QObject {
  Q_OBJECT
  TWindowUnderTest fUnderTest;

  void Output(int width, int height) { SetOutputSize(*fUnderTest.Window, width, height); }
  void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { PressOnArrows(*fUnderTest.Window, key, modifiers); }

private slots:
  void init() {
    fUnderTest.Open();
    Output(96, 64);
  }
  void cleanup() { fUnderTest.Close(); }

  void ctrlSSavesBeforeAnyRenderAtTheFieldsSize() {
    const std::string file = fUnderTest.Data->File("keyed.png");
    fUnderTest.Services.SaveAnswers.push_back(TSaveAnswer{file, 0});
    Press(Qt::Key_S, Qt::ControlModifier);
    QVERIFY(fUnderTest.Services.Errors.isEmpty());
    QVERIFY(std::filesystem::exists(file));
    QCOMPARE(QImage(QString::fromStdString(file)).size(), QSize(96, 64));
  }

  void ctrlCPutsTheSavedPictureOnTheClipboard() {
    QGuiApplication::clipboard()->clear();
    Press(Qt::Key_C, Qt::ControlModifier);
    QVERIFY(fUnderTest.Services.Errors.isEmpty());
    const QImage copied = QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(copied.size(), QSize(96, 64));
    // The same render saved and read back by Qt's PNG reader: the same pixels.
    const std::string file = fUnderTest.Data->File("copied.png");
    fUnderTest.Services.SaveAnswers.push_back(TSaveAnswer{file, 0});
    Press(Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(copied, QImage(QString::fromStdString(file)).convertToFormat(QImage::Format_ARGB32));
    // A picture, not a blank: the default background is opaque.
    QCOMPARE(qAlpha(copied.pixel(0, 0)), 255);
  }

  void pageKeysStepTheTemplatesAndStopAtBothEnds() {
    const int count = static_cast<int>(fUnderTest.Data->Templates().size());
    Press(Qt::Key_PageUp);  // already the first
    QCOMPARE(fUnderTest.Window->State().Template, 1);
    for (int i = 1; i <= count + 1; ++i) Press(Qt::Key_PageDown);
    QCOMPARE(fUnderTest.Window->State().Template, count);
    Settle(*fUnderTest.Window);
    QCOMPARE(fUnderTest.Window->LayerKinds(), LayerTypesOf(fUnderTest.Data->File("Templates/" + fUnderTest.Data->Templates().back())));
    Press(Qt::Key_PageUp);
    QCOMPARE(fUnderTest.Window->State().Template, count - 1);
    QVERIFY(fUnderTest.Services.Errors.isEmpty());
  }

  void aFocusedSliderKeepsItsPageKeys() {
    Ui(*fUnderTest.Window).effectPages->setCurrentIndex(0);
    TTrackBar* bar = Ui(*fUnderTest.Window).reflectionOpacity;
    bar->setFocus();
    const int before = bar->value();
    QTest::keyClick(bar, Qt::Key_PageDown);
    QCOMPARE(fUnderTest.Window->State().Template, 1);
    QCOMPARE(bar->value(), before - bar->pageStep());
  }

  void f5Renders() {
    Settle(*fUnderTest.Window);
    const int renders = fUnderTest.Window->RenderCount();
    Press(Qt::Key_F5);
    QCOMPARE(fUnderTest.Window->RenderCount(), renders + 1);
    Settle(*fUnderTest.Window);
    QCOMPARE(fUnderTest.Window->Result().Width(), 96);
  }

  void everyControlHasATooltip() {
    // A control without its own tooltip shows its parent's (the arrows' buttons, for one).
    auto tip = [this](QWidget* w) {
      for (; w != nullptr && w != fUnderTest.Window.get(); w = w->parentWidget())
        if (!w->toolTip().isEmpty()) return true;
      return false;
    };
    int checked = 0;
    for (QWidget* w : fUnderTest.Window->findChildren<QWidget*>()) {
      const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QAbstractSlider*>(w) ||
                           qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QComboBox*>(w) ||
                           qobject_cast<TPictureBox*>(w);
      // Qt's own parts (tab scroll buttons) and the hidden lists are nothing a user points at.
      if (!control || w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")) ||
          qobject_cast<QTabBar*>(w->parentWidget()))
        continue;
      if (w == Ui(*fUnderTest.Window).resamplerList || w == Ui(*fUnderTest.Window).kernelList || w == Ui(*fUnderTest.Window).sourceClearPicture) continue;
      ++checked;
      QVERIFY2(tip(w), qPrintable(w->objectName()));
    }
    QVERIFY(checked >= 30);
  }
};

QUIRLON_APP_TEST(AppKeyboardTest);

}  // namespace quirlon::app::test

#include "KeyboardTest.moc"
