// A window that keeps answering: renders on a worker, saves of the values shown now, arrows that
// stop at the ends, template names seen whole.
#include <QImage>
#include <QSignalBlocker>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "AppTestSupport.h"

namespace quirlon::app::test {

namespace {

QImage ReadImage(const std::string& file) { return QImage(QString::fromStdString(file)).convertToFormat(QImage::Format_ARGB32); }

}  // namespace

class AppResponsiveTest : public QObject {
  Q_OBJECT
  std::unique_ptr<TDataFolder> fData;
  TTestServices fServices;
  std::unique_ptr<MainWindow> fWindow;

  void Output(int width, int height) { SetOutputSize(*fWindow, width, height); }
  std::string SaveAs(const std::string& name) {
    const std::string file = fData->File(name);
    fServices.SaveAnswers.push_back(TSaveAnswer{file, 0});
    QTest::mouseClick(Ui(*fWindow).savePicture, Qt::LeftButton);
    return file;
  }

private slots:
  void init() {
    fServices = TTestServices{};
    fData = std::make_unique<TDataFolder>();
    fWindow = MakeWindow(fServices, *fData);
    ShowWindow(*fWindow);
    Output(160, 120);
  }
  void cleanup() {
    QCOMPARE(fServices.BusyDepth, 0);
    fWindow.reset();
    fData.reset();
  }

  void theEventLoopTurnsWhileALargeRenderRuns() {
    Output(2048, 2048);
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(2);
    connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start();
    QSignalSpy rendered(fWindow.get(), &MainWindow::Rendered);
    QTest::mouseClick(Ui(*fWindow).apply, Qt::LeftButton);
    // The click returns before the render is done: the window's thread did not render.
    QCOMPARE(rendered.count(), 0);
    QVERIFY(fWindow->RenderPending());
    const int ticksAtClick = ticks;
    QVERIFY(rendered.wait(120000));
    QVERIFY2(ticks > ticksAtClick, "the timer never ticked while the render ran");
    QCOMPARE(fWindow->Result().Width(), 2048);
    QVERIFY(fServices.Errors.isEmpty());
  }

  void aSaveRightAfterAChangeSavesTheNewValue() {
    // The BACKGROUND slot's colour, then a save at once: the corner shows the new colour.
    fServices.ColorAnswers.push_back(raster::TColor(0x0000FF));  // red, as 0x00BBGGRR
    QTest::mouseClick(Ui(*fWindow).sourceColour, Qt::LeftButton);
    const QImage red = ReadImage(SaveAs("red.png"));
    QCOMPARE(red.size(), QSize(160, 120));
    QCOMPARE(QColor(red.pixel(0, 0)), QColor(255, 0, 0));

    // A bar moved by a key and saved before the burst's delay is over.
    const QImage before = ReadImage(SaveAs("before.png"));
    Ui(*fWindow).effectPages->setCurrentIndex(1);
    Ui(*fWindow).shadowDensity->setFocus();
    for (int i = 0; i < 5; ++i) QTest::keyClick(Ui(*fWindow).shadowDensity, Qt::Key_PageDown);
    QVERIFY(fWindow->RenderPending());
    const QImage changed = ReadImage(SaveAs("changed.png"));
    Settle(*fWindow);
    const QImage settled = ReadImage(SaveAs("settled.png"));
    QCOMPARE(changed, settled);
    QVERIFY(changed != before);

    // A transparent background switched on and saved at once: the corner is see-through.
    QTest::mouseClick(Ui(*fWindow).transparentBackground, Qt::LeftButton);
    QCOMPARE(qAlpha(ReadImage(SaveAs("clear.png")).pixel(0, 0)), 0);
    QVERIFY(fServices.Errors.isEmpty());
  }

  void theTemplateArrowsStopAtBothEnds() {
    TUpDown* arrows = Ui(*fWindow).templateArrows;
    const int count = static_cast<int>(fData->Templates().size());
    QVERIFY(count >= 2);
    QVERIFY(!arrows->PrevButton()->isEnabled());
    QVERIFY(arrows->NextButton()->isEnabled());
    for (int i = 1; i < count; ++i) QTest::mouseClick(arrows->NextButton(), Qt::LeftButton);
    QCOMPARE(fWindow->State().Template, count);
    QVERIFY(!arrows->NextButton()->isEnabled());
    QTest::mouseClick(arrows->NextButton(), Qt::LeftButton);  // disabled: nothing happens
    QCOMPARE(fWindow->State().Template, count);
    Settle(*fWindow);
    QVERIFY(fServices.Errors.isEmpty());
    // The last template is what renders, and what a save holds.
    QCOMPARE(fWindow->LayerKinds(), LayerTypesOf(fData->File("Templates/" + fData->Templates().back())));
    for (int i = 1; i < count; ++i) QTest::mouseClick(arrows->PrevButton(), Qt::LeftButton);
    QCOMPARE(fWindow->State().Template, 1);
    QVERIFY(!arrows->PrevButton()->isEnabled());
    Settle(*fWindow);
    QCOMPARE(fWindow->LayerKinds(), LayerTypesOf(fData->File("Templates/" + fData->Templates().front())));
  }

  void largeDiscAreaIsEnabledOnlyWhereADiscIsDrawn() {
    const std::vector<std::string> templates = fData->Templates();
    TUpDown* arrows = Ui(*fWindow).templateArrows;
    for (std::size_t i = 0; i < templates.size(); ++i) {
      if (i > 0) QTest::mouseClick(arrows->NextButton(), Qt::LeftButton);
      else QTest::mouseClick(Ui(*fWindow).apply, Qt::LeftButton);
      Settle(*fWindow);
      // Read from the file here: a layer of type "disc" or "discreflection".
      bool disc = false;
      for (const std::string& kind : LayerTypesOf(fData->File("Templates/" + templates[i])))
        disc = disc || kind == "disc" || kind == "discreflection";
      QCOMPARE(Ui(*fWindow).largeDiscArea->isEnabled(), disc);
      if (disc && !fWindow->State().LargeDiscArea) {
        const int renders = fWindow->RenderCount();
        QTest::mouseClick(Ui(*fWindow).largeDiscArea, Qt::LeftButton);
        QVERIFY(fWindow->State().LargeDiscArea);
        Settle(*fWindow);
        QCOMPARE(fWindow->RenderCount(), renders + 1);
      }
    }
    QVERIFY(fServices.Errors.isEmpty());
  }

  void everyTemplateNameIsSeenWholeOrInItsTooltip() {
    TUpDown* arrows = Ui(*fWindow).templateArrows;
    const std::vector<std::string> templates = fData->Templates();
    for (std::size_t i = 0; i < templates.size(); ++i) {
      if (i > 0) QTest::mouseClick(arrows->NextButton(), Qt::LeftButton);
      const QString name = QString::fromStdString(templates[i].substr(0, templates[i].size() - 4));
      TAutoSizeLabel* label = Ui(*fWindow).templateName;
      QCOMPARE(label->toolTip(), name);
      // Inside the panel, never cut by its edge.
      QVERIFY2(label->x() + label->width() <= Ui(*fWindow).templatePanel->width(), qPrintable(name));
      // Either the whole name, or its start followed by an ellipsis.
      const QString shown = label->text();
      if (shown != name) {
        QVERIFY2(shown.endsWith(QChar(0x2026)), qPrintable(shown));
        QVERIFY2(name.startsWith(shown.chopped(1)), qPrintable(shown));
      }
      QVERIFY(label->fontMetrics().horizontalAdvance(shown) <= label->width());
    }
  }
};

QUIRLON_APP_TEST(AppResponsiveTest);

}  // namespace quirlon::app::test

#include "ResponsiveTest.moc"
