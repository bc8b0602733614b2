// The preview the worker paints: the window shows exactly what its own view would paint for the
// same render, a frame painted for values since changed is never shown, and after a drag the
// last value is what renders and shows.
#include <QImage>
#include <QTest>

#include "AppTestSupport.h"
#include "core/Template.h"
#include "imagefiles/Picture.h"

namespace quirlon::app::test {

namespace {

// The preview as the widget draws it now.
QImage Shot(MainWindow& Window) { return Ui(Window).preview->grab().toImage().convertToFormat(QImage::Format_RGB32); }

// The preview as the window's view paints it itself, from the canvas and layers it holds.
QImage ShotPaintedByTheView(MainWindow& Window) {
  Window.View().Changed();
  return Shot(Window);
}

std::vector<raster::TColor32> Flattened(const core::TRenderResult& Result) {
  const std::unique_ptr<raster::TBitmap32> flat = core::Flatten(Result);
  const raster::TColor32* bits = flat->Bits();
  return {bits, bits + flat->PixelCount()};
}

}  // namespace

class AppPreviewTest : public QObject {
  Q_OBJECT
  TWindowUnderTest fUnderTest;

private slots:
  void init() { fUnderTest.Open(); }
  void cleanup() { fUnderTest.Close(true, true); }

  void theWorkersFrameIsWhatTheViewWouldPaint() {
    struct TCase {
      const char* Name;
      int Width, Height;
      bool ActualSize;            // "Zoom 100 %" before the render
      const char* Resampler;      // chosen before the render; "" keeps the list's choice
      bool SwitchWhileRendering;  // the shadow switch flips before the result arrives
      bool FrameShown;            // whether the worker's frame fits what the window shows then
    };
    const TCase cases[] = {
        {"shrunk to fit", 800, 600, false, "", false, true},
        {"tall, shrunk to fit", 300, 1000, false, "", false, true},
        {"every pixel, centred", 500, 400, true, "", false, true},
        {"nearest resampler", 640, 480, false, "TNearestResampler", false, true},
        {"switch flipped meanwhile", 640, 480, false, "", true, false},
    };
    for (const TCase& c : cases) {
      init();  // each case on a fresh window
      MainWindow& w = *fUnderTest.Window;
      SetOutputSize(w, c.Width, c.Height);
      if (c.ActualSize) Ui(w).preview->findChild<QAction*>(QStringLiteral("zoomActualAction"))->trigger();
      if (*c.Resampler != 0) Ui(w).resamplerList->setCurrentIndex(Ui(w).resamplerList->findText(c.Resampler));
      // Clicks without turning the event loop: the result cannot arrive in between.
      Ui(w).apply->click();
      if (c.SwitchWhileRendering) Ui(w).showShadows->click();
      Settle(w);
      QCOMPARE(w.Result().Width(), c.Width);
      QVERIFY2(Ui(w).preview->View().ShowsFrame() == c.FrameShown, c.Name);
      const QImage shown = Shot(w);
      const QImage painted = ShotPaintedByTheView(w);
      QVERIFY2(!Ui(w).preview->View().ShowsFrame(), c.Name);
      QVERIFY2(shown == painted, c.Name);
      cleanup();
    }
  }

  void afterADragTheLastValueRendersAndShows() {
    MainWindow& w = *fUnderTest.Window;
    SetOutputSize(w, 480, 360);
    Ui(w).effectPages->setCurrentIndex(1);
    TTrackBar* bar = Ui(w).shadowDensity;
    bar->setValue(0);
    Settle(w);
    // A pointer faster than the renders: most values are dropped unrendered.
    for (int value = 0; value <= 200; value += 8) {
      bar->setValue(value);
      QTest::qWait(3);
    }
    Settle(w);
    QCOMPARE(w.State().Settings.ShadowDensity, 200);

    // The same values rendered without the window.
    imagefiles::TPictureCache pictures;
    core::TRenderRequest request;
    request.Template.File = fUnderTest.Data->File("Templates/" + fUnderTest.Data->Templates().front());
    request.Settings = w.State().Settings;
    request.Sources = w.State().Sources;
    request.Width = 480;
    request.Height = 360;
    request.CustomFolder = fUnderTest.Data->File(core::kCustomFolder);
    request.Pictures = &pictures;
    QVERIFY(Flattened(w.Result()) == Flattened(core::ApplyTemplate(request)));

    QVERIFY(Ui(w).preview->View().ShowsFrame());
    const QImage shown = Shot(w);
    QVERIFY(shown == ShotPaintedByTheView(w));

    // A new frame, then the shadows switched off without a render: the frame no longer fits and
    // the view paints what it holds.
    bar->setValue(100);
    Settle(w);
    QVERIFY(Ui(w).preview->View().ShowsFrame());
    Ui(w).showShadows->click();
    QVERIFY(!Ui(w).preview->View().ShowsFrame());
    QVERIFY(Shot(w) != shown);
  }
};

QUIRLON_APP_TEST(AppPreviewTest);

}  // namespace quirlon::app::test

#include "PreviewTest.moc"
