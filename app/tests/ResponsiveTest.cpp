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
  TWindowUnderTest fUnderTest;

  void Output(int width, int height) { SetOutputSize(*fUnderTest.Window, width, height); }
  std::string SaveAs(const std::string& name) {
    const std::string file = fUnderTest.Data->File(name);
    fUnderTest.Services.SaveAnswers.push_back(TSaveAnswer{file, 0});
    QTest::mouseClick(Ui(*fUnderTest.Window).savePicture, Qt::LeftButton);
    return file;
  }

private slots:
  void init() {
    fUnderTest.Open();
    Output(160, 120);
  }
  void cleanup() { fUnderTest.Close(); }

  void theEventLoopTurnsWhileALargeRenderRuns() {
    Output(2048, 2048);
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(2);
    connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start();
    QSignalSpy rendered(fUnderTest.Window.get(), &MainWindow::Rendered);
    QTest::mouseClick(Ui(*fUnderTest.Window).apply, Qt::LeftButton);
    // The click returns before the render is done: the window's thread did not render.
    QCOMPARE(rendered.count(), 0);
    QVERIFY(fUnderTest.Window->RenderPending());
    const int ticksAtClick = ticks;
    QVERIFY(rendered.wait(120000));
    QVERIFY2(ticks > ticksAtClick, "the timer never ticked while the render ran");
    QCOMPARE(fUnderTest.Window->Result().Width(), 2048);
    QVERIFY(fUnderTest.Services.Errors.isEmpty());
  }

  void aSaveRightAfterAChangeSavesTheNewValue() {
    // The BACKGROUND slot's colour, then a save at once: the corner shows the new colour.
    fUnderTest.Services.ColorAnswers.push_back(raster::TColor(0x0000FF));  // red, as 0x00BBGGRR
    QTest::mouseClick(Ui(*fUnderTest.Window).sourceColour, Qt::LeftButton);
    const QImage red = ReadImage(SaveAs("red.png"));
    QCOMPARE(red.size(), QSize(160, 120));
    QCOMPARE(QColor(red.pixel(0, 0)), QColor(255, 0, 0));

    // A bar moved by a key and saved before the burst's delay is over.
    const QImage before = ReadImage(SaveAs("before.png"));
    Ui(*fUnderTest.Window).effectPages->setCurrentIndex(1);
    Ui(*fUnderTest.Window).shadowDensity->setFocus();
    for (int i = 0; i < 5; ++i) QTest::keyClick(Ui(*fUnderTest.Window).shadowDensity, Qt::Key_PageDown);
    QVERIFY(fUnderTest.Window->RenderPending());
    const QImage changed = ReadImage(SaveAs("changed.png"));
    Settle(*fUnderTest.Window);
    const QImage settled = ReadImage(SaveAs("settled.png"));
    QCOMPARE(changed, settled);
    QVERIFY(changed != before);

    // A transparent background switched on and saved at once: the corner is see-through.
    QTest::mouseClick(Ui(*fUnderTest.Window).transparentBackground, Qt::LeftButton);
    QCOMPARE(qAlpha(ReadImage(SaveAs("clear.png")).pixel(0, 0)), 0);
    QVERIFY(fUnderTest.Services.Errors.isEmpty());
  }

  void theTemplateArrowsStopAtBothEnds() {
    TUpDown* arrows = Ui(*fUnderTest.Window).templateArrows;
    const int count = static_cast<int>(fUnderTest.Data->Templates().size());
    QVERIFY(count >= 2);
    QVERIFY(!arrows->PrevButton()->isEnabled());
    QVERIFY(arrows->NextButton()->isEnabled());
    for (int i = 1; i < count; ++i) QTest::mouseClick(arrows->NextButton(), Qt::LeftButton);
    QCOMPARE(fUnderTest.Window->State().Template, count);
    QVERIFY(!arrows->NextButton()->isEnabled());
    QTest::mouseClick(arrows->NextButton(), Qt::LeftButton);  // disabled: nothing happens
    QCOMPARE(fUnderTest.Window->State().Template, count);
    Settle(*fUnderTest.Window);
    QVERIFY(fUnderTest.Services.Errors.isEmpty());
    // The last template is what renders, and what a save holds.
    QCOMPARE(fUnderTest.Window->LayerKinds(), LayerTypesOf(fUnderTest.Data->File("Templates/" + fUnderTest.Data->Templates().back())));
    for (int i = 1; i < count; ++i) QTest::mouseClick(arrows->PrevButton(), Qt::LeftButton);
    QCOMPARE(fUnderTest.Window->State().Template, 1);
    QVERIFY(!arrows->PrevButton()->isEnabled());
    Settle(*fUnderTest.Window);
    QCOMPARE(fUnderTest.Window->LayerKinds(), LayerTypesOf(fUnderTest.Data->File("Templates/" + fUnderTest.Data->Templates().front())));
  }

  void largeDiscAreaIsEnabledOnlyWhereADiscIsDrawn() {
    const std::vector<std::string> templates = fUnderTest.Data->Templates();
    TUpDown* arrows = Ui(*fUnderTest.Window).templateArrows;
    for (std::size_t i = 0; i < templates.size(); ++i) {
      if (i > 0) QTest::mouseClick(arrows->NextButton(), Qt::LeftButton);
      else QTest::mouseClick(Ui(*fUnderTest.Window).apply, Qt::LeftButton);
      Settle(*fUnderTest.Window);
      // Read from the file here: a layer of type "disc" or "discreflection".
      bool disc = false;
      for (const std::string& kind : LayerTypesOf(fUnderTest.Data->File("Templates/" + templates[i])))
        disc = disc || kind == "disc" || kind == "discreflection";
      QCOMPARE(Ui(*fUnderTest.Window).largeDiscArea->isEnabled(), disc);
      if (disc && !fUnderTest.Window->State().LargeDiscArea) {
        const int renders = fUnderTest.Window->RenderCount();
        QTest::mouseClick(Ui(*fUnderTest.Window).largeDiscArea, Qt::LeftButton);
        QVERIFY(fUnderTest.Window->State().LargeDiscArea);
        Settle(*fUnderTest.Window);
        QCOMPARE(fUnderTest.Window->RenderCount(), renders + 1);
      }
    }
    QVERIFY(fUnderTest.Services.Errors.isEmpty());
  }

  void everyTemplateNameIsSeenWholeOrInItsTooltip() {
    TUpDown* arrows = Ui(*fUnderTest.Window).templateArrows;
    const std::vector<std::string> templates = fUnderTest.Data->Templates();
    for (std::size_t i = 0; i < templates.size(); ++i) {
      if (i > 0) QTest::mouseClick(arrows->NextButton(), Qt::LeftButton);
      const QString name = QString::fromStdString(templates[i].substr(0, templates[i].size() - 4));
      TAutoSizeLabel* label = Ui(*fUnderTest.Window).templateName;
      QCOMPARE(label->toolTip(), name);
      // Inside the panel, never cut by its edge.
      QVERIFY2(label->x() + label->width() <= Ui(*fUnderTest.Window).templatePanel->width(), qPrintable(name));
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
