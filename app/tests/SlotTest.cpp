// The source panel's slot: what it shows when it uses its picture or its colour, and clearing
// the picture by button, by the picture's menu and by undo.
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QTest>
#include <QToolButton>

#include "AppTestSupport.h"

namespace quirlon::app::test {

class AppSlotTest : public QObject {
  Q_OBJECT
  std::unique_ptr<TDataFolder> fData;
  TTestServices fServices;
  std::unique_ptr<MainWindow> fWindow;

  QToolButton* ClearButton() { return fWindow->findChild<QToolButton*>(QStringLiteral("sourceClear")); }
  QLabel* Use() { return fWindow->findChild<QLabel*>(QStringLiteral("sourceUse")); }
  // The top left pixel of the picture the window shows now: the background slot's there.
  QRgb Corner() {
    Settle(*fWindow);
    PressOnArrows(*fWindow, Qt::Key_C, Qt::ControlModifier);
    return QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_ARGB32).pixel(0, 0);
  }
  void LoadBackgroundPicture() {
    fServices.OpenAnswers.push_back(GoodPicture());
    QTest::mouseClick(Ui(*fWindow).sourcePicture, Qt::LeftButton);
  }

private slots:
  void init() {
    fServices = TTestServices{};
    fData = std::make_unique<TDataFolder>();
    fWindow = MakeWindow(fServices, *fData);
    ShowWindow(*fWindow);
    SetOutputSize(*fWindow, 64, 48);
  }
  void cleanup() {
    QCOMPARE(fServices.BusyDepth, 0);
    QVERIFY2(fServices.Errors.isEmpty(), qPrintable(fServices.Errors.join(QLatin1Char('\n'))));
    fWindow.reset();
    fData.reset();
  }

  void theSlotShowsWhatItUses() {
    const TControls ui = Ui(*fWindow);
    // A colour and nothing else: the invitation, no picture, no clear button.
    QCOMPARE(Use()->text(), QStringLiteral("Colour"));
    QCOMPARE(ui.sourcePanel->Caption(), QStringLiteral("Click to load image"));
    QVERIFY(ClearButton()->isHidden());
    // The gradient picture: its top left pixel is (0, 0, 128); no invitation around it.
    LoadBackgroundPicture();
    QVERIFY(!ui.sourcePicture->Empty());
    QCOMPARE(Use()->text(), QStringLiteral("Picture: gradient.png"));
    QVERIFY(ui.sourcePanel->Caption().isEmpty());
    QVERIFY(!ClearButton()->isHidden());
    QCOMPARE(QColor(Corner()), QColor(0, 0, 128));
    // A colour chosen: the old picture is no longer shown, but kept (and can still be cleared).
    fServices.ColorAnswers.push_back(raster::TColor(0x0000FF));
    ui.sourceColour->click();
    QVERIFY(ui.sourcePicture->Empty());
    QCOMPARE(Use()->text(), QStringLiteral("Colour (picture kept)"));
    QCOMPARE(ui.sourcePanel->Caption(), QStringLiteral("Click to load image"));
    QVERIFY(!ClearButton()->isHidden());
    QCOMPARE(QColor(Corner()), QColor(255, 0, 0));
    // Back to another slot and here again: the same.
    ui.sourceArrows->NextButton()->click();
    ui.sourceArrows->PrevButton()->click();
    QVERIFY(ui.sourcePicture->Empty());
    QCOMPARE(Use()->text(), QStringLiteral("Colour (picture kept)"));
  }

  void clearingThePictureShowsTheColourAndIsUndone() {
    const TControls ui = Ui(*fWindow);
    LoadBackgroundPicture();
    QCOMPARE(QColor(Corner()), QColor(0, 0, 128));
    const int steps = fWindow->UndoStack().count();
    ClearButton()->click();
    QVERIFY(ui.sourcePicture->Empty());
    QVERIFY(ClearButton()->isHidden());
    QVERIFY(fWindow->State().SlotFiles[0].empty());
    QCOMPARE(QColor(Corner()), QColor(255, 255, 255));  // the background's own white
    QCOMPARE(fWindow->UndoStack().count(), steps + 1);
    fWindow->UndoStack().undo();
    QCOMPARE(Use()->text(), QStringLiteral("Picture: gradient.png"));
    QCOMPARE(QColor(Corner()), QColor(0, 0, 128));
    // The picture's own menu does the same.
    auto* action = ui.sourcePicture->findChild<QAction*>(QStringLiteral("clearPictureAction"));
    QVERIFY(ui.sourcePicture->actions().contains(action));
    action->trigger();
    QVERIFY(ui.sourcePicture->Empty());
    QCOMPARE(QColor(Corner()), QColor(255, 255, 255));
  }

  void theKeyboardLoadsAPictureAndChoosesAColour() {
    const TControls ui = Ui(*fWindow);
    ui.sourcePicture->setFocus();
    QTRY_VERIFY(ui.sourcePicture->hasFocus());
    fServices.OpenAnswers.push_back(GoodPicture());
    QTest::keyClick(ui.sourcePicture, Qt::Key_Space);
    QVERIFY(!ui.sourcePicture->Empty());
    ui.sourceColour->setFocus();
    QTRY_VERIFY(ui.sourceColour->hasFocus());
    fServices.ColorAnswers.push_back(raster::TColor(0x00FF00));
    QTest::keyClick(ui.sourceColour, Qt::Key_Space);
    QCOMPARE(QColor(Corner()), QColor(0, 255, 0));
  }
};

QUIRLON_APP_TEST(AppSlotTest);

}  // namespace quirlon::app::test

#include "SlotTest.moc"
