// The handlers: what each stores and whether it renders, driven through the real controls.
#include <fstream>

#include <QComboBox>
#include <QDropEvent>
#include <QLabel>
#include <QWheelEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include "AppTestSupport.h"
#include "core/RenderSettings.h"
#include "raster/Layers.h"
#include "raster/Sampler.h"

namespace quirlon::app::test {

namespace {

using TSizes = QList<QPair<int, int>>;

TSizes RenderedSizes(const QSignalSpy& spy) {
  TSizes sizes;
  for (const QList<QVariant>& args : spy) sizes << qMakePair(args.at(0).toInt(), args.at(1).toInt());
  return sizes;
}

void ClickArrow(TUpDown* upDown, bool next) {
  QTest::mouseClick(next ? upDown->NextButton() : upDown->PrevButton(), Qt::LeftButton);
}

void ReleaseOn(QWidget* bar) {
  const QPoint centre = bar->rect().center();
  QTest::mouseRelease(bar, Qt::LeftButton, {}, centre);
}

bool IsReflectionKind(const std::string& kind) {
  return kind == "reflection" || kind == "blurshade" || kind == "blurhighlight" || kind == "customcolorreflection" ||
         kind == "discreflection";
}

// Opaque layer pixels within 2 of the colour on each channel (the layer blends lose a step).
std::int64_t CountPixels(const view::TCustomImage32& view, raster::TColor32 colour) {
  auto near = [colour](raster::TColor32 c) {
    if ((c >> 24) < 0xF0) return false;
    for (int shift : {0, 8, 16}) {
      const int a = (c >> shift) & 0xFF, b = (colour >> shift) & 0xFF;
      if (a - b > 2 || b - a > 2) return false;
    }
    return true;
  };
  std::int64_t n = 0;
  for (int i = 0; i < view.Layers().Count(); ++i) {
    const auto* layer = dynamic_cast<const raster::TBitmapLayer*>(&view.Layers().LayerAt(i));
    if (layer == nullptr) continue;
    const raster::TBitmap32& b = layer->Bitmap();
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x) n += near(b.ScanLine(y)[x]);
  }
  return n;
}

void Drop(QWidget* target, const std::string& file) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(file))});
  const QPointF at = QRectF(target->rect()).center();
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(target, &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(target, &drop);
}

}  // namespace

class AppHandlerTest : public QObject {
  Q_OBJECT
  TWindowUnderTest fUnderTest;

  // Smaller renders keep the suite quick; the size fields are set before the spy starts.
  void SmallerOutput() {
    const QSignalBlocker quietWidth(Ui(*fUnderTest.Window).outputWidth);
    const QSignalBlocker quietHeight(Ui(*fUnderTest.Window).outputHeight);
    Ui(*fUnderTest.Window).outputWidth->setValue(200);
    Ui(*fUnderTest.Window).outputHeight->setValue(150);
  }

private slots:
  void init() { fUnderTest.Open(); }
  void cleanup() { fUnderTest.Close(); }

  void typingOverTheSelectedWidthRendersTheTypedValue() {
    QSignalSpy spy(fUnderTest.Window.get(), &MainWindow::Rendered);
    Ui(*fUnderTest.Window).outputWidth->setFocus();
    Ui(*fUnderTest.Window).outputWidth->selectAll();
    QTest::keyClicks(Ui(*fUnderTest.Window).outputWidth, QStringLiteral("1024"));
    Settle(*fUnderTest.Window);
    // Typing fast is one burst: the values between may be skipped, none below 32 is rendered.
    QVERIFY(!spy.isEmpty());
    QCOMPARE(RenderedSizes(spy).last(), qMakePair(1024, 600));
    for (const auto& size : RenderedSizes(spy)) QVERIFY(size.first >= 32);
    QCOMPARE(fUnderTest.Window->View().Bitmap().Width(), 1024);
    QCOMPARE(fUnderTest.Window->View().Bitmap().Height(), 600);
    QVERIFY(fUnderTest.Services.Errors.isEmpty());
  }

  void emptyingTheWidthRendersAt32AndLettersCannotBeTyped() {
    QSignalSpy spy(fUnderTest.Window.get(), &MainWindow::Rendered);
    Ui(*fUnderTest.Window).outputWidth->setFocus();
    Ui(*fUnderTest.Window).outputWidth->selectAll();
    QTest::keyClick(Ui(*fUnderTest.Window).outputWidth, Qt::Key_Backspace);
    QCOMPARE(Ui(*fUnderTest.Window).outputWidth->Text(), QString());
    Settle(*fUnderTest.Window);
    QCOMPARE(RenderedSizes(spy), (TSizes{{32, 600}}));
    QTest::keyClicks(Ui(*fUnderTest.Window).outputWidth, QStringLiteral("x-"));
    QCOMPARE(Ui(*fUnderTest.Window).outputWidth->Text(), QString());
    Settle(*fUnderTest.Window);
    QCOMPARE(spy.count(), 1);
  }

  void aWidthAbove8192IsBroughtInRangeAsTyped() {
    QSignalSpy spy(fUnderTest.Window.get(), &MainWindow::Rendered);
    Ui(*fUnderTest.Window).outputWidth->setFocus();
    Ui(*fUnderTest.Window).outputWidth->selectAll();
    QTest::keyClicks(Ui(*fUnderTest.Window).outputWidth, QStringLiteral("9000"));
    QCOMPARE(Ui(*fUnderTest.Window).outputWidth->Text(), QStringLiteral("8192"));
    Ui(*fUnderTest.Window).outputHeight->setFocus();
    QTRY_COMPARE(Ui(*fUnderTest.Window).outputWidth->Text(), QStringLiteral("8192"));
    Settle(*fUnderTest.Window);
    QVERIFY(!spy.isEmpty());
    QCOMPARE(RenderedSizes(spy).last(), qMakePair(8192, 600));
    for (const auto& size : RenderedSizes(spy)) QVERIFY(size.first <= 8192);
  }

  void aHeightBelow32RendersNothingButIsPassedWithTheNextWidthChange() {
    QSignalSpy spy(fUnderTest.Window.get(), &MainWindow::Rendered);
    Ui(*fUnderTest.Window).outputHeight->setFocus();
    Ui(*fUnderTest.Window).outputHeight->selectAll();
    QTest::keyClicks(Ui(*fUnderTest.Window).outputHeight, QStringLiteral("5"));
    Settle(*fUnderTest.Window);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(fUnderTest.Window->RenderCount(), 0);
    // The width's arrows step by one and do not take the focus from the height field.
    Ui(*fUnderTest.Window).outputWidth->stepBy(1);
    Settle(*fUnderTest.Window);
    QCOMPARE(RenderedSizes(spy), (TSizes{{801, 5}}));
    QCOMPARE(fUnderTest.Window->View().Bitmap().Height(), 5);
  }

  void closingWhileAFieldIsBeingEditedRunsNoHandler() {
    // The field is brought into range when it loses the focus, which happens while the window
    // is being destroyed: that change must not reach the half-destroyed window.
    Ui(*fUnderTest.Window).outputWidth->setFocus();
    Ui(*fUnderTest.Window).outputWidth->selectAll();
    QTest::keyClicks(Ui(*fUnderTest.Window).outputWidth, QStringLiteral("5"));
    QCOMPARE(fUnderTest.Services.BusyPushes, 0);
    fUnderTest.Window.reset();
    QCOMPARE(fUnderTest.Services.BusyPushes, 0);
  }

  void aPictureThenAColourForFrontRendersTheColourAndHidesTheKeptPicture() {
    SmallerOutput();
    MainWindow& w = *fUnderTest.Window;
    ClickArrow(Ui(w).sourceArrows, true);
    QCOMPARE(Ui(w).sourceName->text(), QStringLiteral("FRONT"));
    QCOMPARE(Ui(w).sourceColour->Color(), raster::TColor(0xC0DCC0));
    const int before = w.RenderCount();
    QCOMPARE(before, 0);

    fUnderTest.Services.OpenAnswers.push_back(GoodPicture());
    QTest::mouseClick(Ui(w).sourcePicture, Qt::LeftButton);
    QCOMPARE(fUnderTest.Services.OpenTitles, QStringList{QStringLiteral("Choose Picture")});
    QVERIFY(QString::fromStdString(fUnderTest.Services.OpenFilters.at(0)).startsWith(QStringLiteral("All (")));
    QVERIFY(QString::fromStdString(fUnderTest.Services.OpenFilters.at(0)).contains(QStringLiteral("*.png")));
    // The formats covers arrive in from designers, web stores, printers and phones.
    for (const char* ext : {"*.psd", "*.webp", "*.heic", "*.avif", "*.svg", "*.pdf"})
      QVERIFY2(QtNameFilters(fUnderTest.Services.OpenFilters.at(0)).first().contains(QLatin1String(ext)), ext);
    QCOMPARE(w.RenderCount(), 1);
    Settle(w);
    QCOMPARE(fUnderTest.Window->State().SlotFiles[2 - 1], GoodPicture());
    QVERIFY(!fUnderTest.Window->State().Sources[2 - 1].UsesColour());
    QVERIFY(!Ui(w).sourcePicture->Empty());
    const std::int64_t redBefore = CountPixels(w.View(), 0xFFFF0000u);

    fUnderTest.Services.ColorAnswers.push_back(raster::TColor(0x0000FF));  // red
    QTest::mouseClick(Ui(w).sourceColour, Qt::LeftButton);
    QCOMPARE(fUnderTest.Services.ColorInitials, std::vector<raster::TColor>{0xC0DCC0});
    QCOMPARE(w.RenderCount(), 2);
    Settle(w);
    QCOMPARE(fUnderTest.Window->State().Sources[2 - 1].Colour, raster::TColor(0x0000FF));
    QVERIFY(fUnderTest.Window->State().Sources[2 - 1].UsesColour());
    QCOMPARE(fUnderTest.Window->State().SlotFiles[2 - 1], GoodPicture());
    // The picture is kept for later but not shown: the slot shows the colour it uses.
    QVERIFY(Ui(w).sourcePicture->Empty());
    QVERIFY(CountPixels(w.View(), 0xFFFF0000u) > redBefore + 100);

    // Away and back: still the colour, and the button shows the chosen one.
    ClickArrow(Ui(w).sourceArrows, true);
    QVERIFY(Ui(w).sourcePicture->Empty());
    QCOMPARE(Ui(w).sourceColour->Color(), raster::TColor(0x808000));
    ClickArrow(Ui(w).sourceArrows, false);
    QVERIFY(Ui(w).sourcePicture->Empty());
    QCOMPARE(Ui(w).sourceColour->Color(), raster::TColor(0x0000FF));
    QCOMPARE(w.RenderCount(), 2);
  }

  void switchingSlotsRendersNothingAndNamesEachSlot() {
    MainWindow& w = *fUnderTest.Window;
    const QStringList expected = {"BACKGROUND", "FRONT", "SIDE", "TOP", "DISC", "FRONT 2", "SIDE 2", "TOP 2", "DISC 2"};
    const raster::TColor colours[] = {0xFFFFFF, 0xC0DCC0, 0x808000, 0x800080, 0xF0CAA6,
                                      0x000080, 0x008080, 0xFFFF00, 0xC0DCC0};
    for (int slot = 1; slot <= 9; ++slot) {
      if (slot > 1) ClickArrow(Ui(w).sourceArrows, true);
      QCOMPARE(fUnderTest.Window->State().CurrentSlot, slot);
      QCOMPARE(Ui(w).sourceName->text(), expected[slot - 1]);
      QCOMPARE(Ui(w).sourceColour->Color(), colours[slot - 1]);
      QVERIFY(Ui(w).sourcePicture->Empty());
    }
    ClickArrow(Ui(w).sourceArrows, true);  // stays at 9
    QCOMPARE(fUnderTest.Window->State().CurrentSlot, 9);
    QCOMPARE(w.RenderCount(), 0);
    QCOMPARE(fUnderTest.Services.BusyPushes, 0);
  }

  void aTemplateChosenWithTheArrowsIsRendered() {
    const std::vector<std::string> templates = fUnderTest.Data->Templates();
    if (templates.size() < 3) QSKIP("the bundled library has fewer than three templates");
    SmallerOutput();
    MainWindow& w = *fUnderTest.Window;
    ClickArrow(Ui(w).templateArrows, true);
    ClickArrow(Ui(w).templateArrows, true);
    QCOMPARE(fUnderTest.Window->State().Template, 3);
    QCOMPARE(Ui(w).templateName->toolTip().toStdString(), templates[2].substr(0, templates[2].size() - 4));
    Settle(w);
    QVERIFY(w.RenderCount() >= 1);
    QCOMPARE(w.LayerKinds(), LayerTypesOf(fUnderTest.Data->File("Templates/" + templates[2])));
    QVERIFY(fUnderTest.Services.Errors.isEmpty());
  }

  void clearingShowHidesExactlyTheReflectionLayersWithoutARender() {
    SmallerOutput();
    MainWindow& w = *fUnderTest.Window;
    for (bool backgroundPicture : {false, true}) {
      if (backgroundPicture) {
        fUnderTest.Services.OpenAnswers.push_back(GoodPicture());
        QTest::mouseClick(Ui(w).sourcePicture, Qt::LeftButton);  // slot 1, BACKGROUND: renders
      } else {
        QTest::mouseClick(Ui(w).apply, Qt::LeftButton);
      }
      Settle(w);
      const int renders = w.RenderCount();
      const std::vector<std::string> kinds = w.LayerKinds();
      const int first = backgroundPicture ? 1 : 0;
      QCOMPARE(w.View().Layers().Count(), static_cast<int>(kinds.size()) + first);
      bool anyReflection = false;
      for (const auto& k : kinds) anyReflection = anyReflection || IsReflectionKind(k);
      if (!anyReflection) QSKIP("the first template has no reflection layer");

      Ui(w).effectPages->setCurrentIndex(0);
      QTest::mouseClick(Ui(w).showReflections, Qt::LeftButton);
      QVERIFY(!Ui(w).showReflections->isChecked());
      QVERIFY(!fUnderTest.Window->State().Settings.ShowReflection);
      QCOMPARE(w.RenderCount(), renders);
      if (backgroundPicture) QVERIFY(w.View().Layers().LayerAt(0).Visible());
      for (std::size_t i = 0; i < kinds.size(); ++i)
        QCOMPARE(w.View().Layers().LayerAt(first + static_cast<int>(i)).Visible(), !IsReflectionKind(kinds[i]));

      QTest::mouseClick(Ui(w).showReflections, Qt::LeftButton);
      QVERIFY(fUnderTest.Window->State().Settings.ShowReflection);
      for (int i = 0; i < w.View().Layers().Count(); ++i) QVERIFY(w.View().Layers().LayerAt(i).Visible());
      QCOMPARE(w.RenderCount(), renders);
    }
  }

  void clearingShowOnTheShadowPageHidesTheShadowLayers() {
    SmallerOutput();
    MainWindow& w = *fUnderTest.Window;
    QTest::mouseClick(Ui(w).apply, Qt::LeftButton);
    Settle(w);
    Ui(w).effectPages->setCurrentIndex(1);
    QTest::mouseClick(Ui(w).showShadows, Qt::LeftButton);
    QVERIFY(!fUnderTest.Window->State().Settings.ShowShadow);
    QCOMPARE(w.RenderCount(), 1);
    for (std::size_t i = 0; i < w.LayerKinds().size(); ++i)
      QCOMPARE(w.View().Layers().LayerAt(static_cast<int>(i)).Visible(), w.LayerKinds()[i] != "shadow");
    // The next render builds with the stored state.
    QTest::mouseClick(Ui(w).apply, Qt::LeftButton);
    Settle(w);
    for (std::size_t i = 0; i < w.LayerKinds().size(); ++i)
      QCOMPARE(w.View().Layers().LayerAt(static_cast<int>(i)).Visible(), w.LayerKinds()[i] != "shadow");
  }

  void barsMovedByKeysOrWheelRenderTheNewValue() {
    SmallerOutput();
    MainWindow& w = *fUnderTest.Window;
    Ui(w).reflectionBlur->setFocus();
    QTest::keyClick(Ui(w).reflectionBlur, Qt::Key_Right);
    QTest::keyClick(Ui(w).reflectionBlur, Qt::Key_Right);
    QCOMPARE(Ui(w).reflectionBlur->value(), 17);
    QCOMPARE(int(fUnderTest.Window->State().Settings.ReflectionBlur), 17);
    QSignalSpy spy(&w, &MainWindow::Rendered);
    Settle(w);
    QCOMPARE(spy.count(), 1);  // two key presses in a burst: one render
    QCOMPARE(w.RenderCount(), 1);

    // One notch of the wheel forward moves a bar by its single step (3 per notch by default).
    TTrackBar* opacity = Ui(w).reflectionBlur;
    const int before = opacity->value();
    const QPoint centre = opacity->rect().center();
    QWheelEvent wheel(centre, opacity->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(opacity, &wheel);
    QVERIFY(opacity->value() != before);
    QCOMPARE(int(fUnderTest.Window->State().Settings.ReflectionBlur), opacity->value());
    Settle(w);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(w.RenderCount(), 2);
  }

  void everyBarStoresItsPositionAndRenders() {
    SmallerOutput();
    MainWindow& w = *fUnderTest.Window;
    const core::TRenderSettings& s = fUnderTest.Window->State().Settings;
    struct Case { TTrackBar* bar; int page; int value; std::function<int()> stored; };
    const Case cases[] = {
        {Ui(w).reflectionOpacity, 0, 7, [&] { return int(s.ReflectionOpacity); }},
        {Ui(w).reflectionLength, 0, 1, [&] { return int(s.ReflectionLength); }},
        {Ui(w).reflectionBrightness, 0, -50, [&] { return s.ReflectionBrightness; }},
        {Ui(w).reflectionBlur, 0, 0, [&] { return int(s.ReflectionBlur); }},
        {Ui(w).shadowDensity, 1, 128, [&] { return int(s.ShadowDensity); }},
        {Ui(w).shadowBlur, 1, 100, [&] { return int(s.ShadowBlur); }},
        {Ui(w).shadingStrength, 2, 0, [&] { return int(s.ShadingStrength); }},
        {Ui(w).highlightStrength, 2, 255, [&] { return int(s.HighlightStrength); }},
    };
    int renders = 0;
    for (const Case& c : cases) {
      Ui(w).effectPages->setCurrentIndex(c.page);
      const bool moves = c.bar->value() != c.value;  // a bar set to where it is has nothing new
      c.bar->setValue(c.value);
      QCOMPARE(c.stored(), c.value);
      Settle(w);
      renders += moves ? 1 : 0;
      QCOMPARE(w.RenderCount(), renders);
    }
    // A release without a move has nothing new to render.
    ReleaseOn(Ui(w).highlightStrength);
    Settle(w);
    QCOMPARE(w.RenderCount(), renders);
    QVERIFY(fUnderTest.Services.Errors.isEmpty());
  }

  void colourButtonsRenderOnEveryConfirmation() {
    SmallerOutput();
    MainWindow& w = *fUnderTest.Window;
    Ui(w).effectPages->setCurrentIndex(1);
    fUnderTest.Services.ColorAnswers.push_back(raster::TColor(0x000000));  // the colour it already has
    QTest::mouseClick(Ui(w).shadowColour, Qt::LeftButton);
    Settle(w);
    QCOMPARE(w.RenderCount(), 1);
    QCOMPARE(fUnderTest.Window->State().Settings.ShadowColor, raster::TColor(0));
    QTest::mouseClick(Ui(w).shadowColour, Qt::LeftButton);  // cancelled
    Settle(w);
    QCOMPARE(w.RenderCount(), 1);

    Ui(w).effectPages->setCurrentIndex(2);
    fUnderTest.Services.ColorAnswers.push_back(raster::TColor(0x102030));
    QTest::mouseClick(Ui(w).shadingColour, Qt::LeftButton);
    Settle(w);
    QCOMPARE(fUnderTest.Window->State().Settings.ShadingColor, raster::TColor(0x102030));
    fUnderTest.Services.ColorAnswers.push_back(raster::TColor(0x405060));
    QTest::mouseClick(Ui(w).highlightColour, Qt::LeftButton);
    QCOMPARE(fUnderTest.Window->State().Settings.HighlightColor, raster::TColor(0x405060));
    Settle(w);
    QCOMPARE(w.RenderCount(), 3);
    QCOMPARE(fUnderTest.Services.ColorInitials, (std::vector<raster::TColor>{0x000000, 0x000000, 0x000000, 0xFFFFFF}));
  }

  void checkBoxesStoreAndRender() {
    SmallerOutput();
    MainWindow& w = *fUnderTest.Window;
    QTest::mouseClick(Ui(w).transparentBackground, Qt::LeftButton);
    QVERIFY(fUnderTest.Window->State().TransparentBackground);
    Settle(w);
    QCOMPARE(w.RenderCount(), 1);
    // No background at all: the canvas stays transparent where no layer covers it.
    QCOMPARE(w.View().Bitmap().ScanLine(0)[0], raster::TColor32(0));
    // The first template draws no disc: "Large disc area" is off and stores nothing.
    QTest::mouseClick(Ui(w).largeDiscArea, Qt::LeftButton);
    QVERIFY(!fUnderTest.Window->State().LargeDiscArea);
    QTest::mouseClick(Ui(w).fadeReflections, Qt::LeftButton);
    QVERIFY(!fUnderTest.Window->State().Settings.FadeReflection);
    Settle(w);
    QCOMPARE(w.RenderCount(), 2);
    QTest::mouseClick(Ui(w).flipWhenSaved, Qt::LeftButton);
    QCOMPARE(w.RenderCount(), 2);
  }

  void theSamplingListStartsSmoothAndRendersExactWhenChosen() {
    SmallerOutput();
    MainWindow& w = *fUnderTest.Window;
    auto* sampling = w.findChild<QComboBox*>(QStringLiteral("sampling"));
    QVERIFY(sampling != nullptr);
    QCOMPARE(sampling->count(), 2);
    QCOMPARE(sampling->currentText(), QStringLiteral("smooth"));
    QVERIFY(fUnderTest.Window->State().Settings.Sampling == core::TSampling::Smooth);
    // Chosen as a user does: the list opened from the keyboard, the next entry taken.
    sampling->setFocus();
    QTest::keyClick(sampling, Qt::Key_Down);
    QCOMPARE(sampling->currentText(), QStringLiteral("exact"));
    QVERIFY(fUnderTest.Window->State().Settings.Sampling == core::TSampling::Exact);
    Settle(w);
    QCOMPARE(w.RenderCount(), 1);
  }

  void theFitListStoresItsChoiceAndTheNoteNamesAMismatchedPicture() {
    SmallerOutput();
    MainWindow& w = *fUnderTest.Window;
    auto* fit = w.findChild<QComboBox*>(QStringLiteral("fit"));
    auto* note = w.findChild<QLabel*>(QStringLiteral("artFitNote"));
    QVERIFY(fit != nullptr && note != nullptr);
    QCOMPARE(fit->count(), 4);
    QCOMPARE(fit->currentText(), QStringLiteral("auto"));
    // A square picture on the first template's front, a face of 190 x 235 mm.
    ClickArrow(Ui(w).sourceArrows, true);
    QCOMPARE(Ui(w).sourceName->text(), QStringLiteral("FRONT"));
    fUnderTest.Services.OpenAnswers.push_back(GoodPicture());
    QTest::mouseClick(Ui(w).sourcePicture, Qt::LeftButton);
    Settle(w);
    QCOMPARE(note->text(), QStringLiteral("FRONT picture is 1.00:1 (width:height) but its face is 0.81:1; cropped to the face"));
    // Chosen as a user does: crop, then stretch.
    fit->setFocus();
    QTest::keyClick(fit, Qt::Key_Down);
    QTest::keyClick(fit, Qt::Key_Down);
    QCOMPARE(fit->currentText(), QStringLiteral("stretch"));
    QVERIFY(fUnderTest.Window->State().Settings.Fit == core::TFitMode::Stretch);
    Settle(w);
    QVERIFY(note->text().endsWith(QStringLiteral("stretched onto the face")));
    // A colour has no proportions: nothing to say.
    fUnderTest.Services.ColorAnswers.push_back(raster::TColor(0x0000FF));
    QTest::mouseClick(Ui(w).sourceColour, Qt::LeftButton);
    Settle(w);
    QCOMPARE(note->text(), QString());
  }

  void aFreshStartAndApplyRendersTheFirstTemplateInTheDefaultColours() {
    MainWindow& w = *fUnderTest.Window;
    QSignalSpy spy(&w, &MainWindow::Rendered);
    QTest::mouseClick(Ui(w).apply, Qt::LeftButton);
    Settle(w);
    QCOMPARE(RenderedSizes(spy), (TSizes{{800, 600}}));
    QVERIFY(fUnderTest.Services.Errors.isEmpty());
    const std::vector<std::string> templates = fUnderTest.Data->Templates();
    QCOMPARE(w.LayerKinds(), LayerTypesOf(fUnderTest.Data->File("Templates/" + templates.front())));
    QCOMPARE(w.View().Layers().Count(), static_cast<int>(w.LayerKinds().size()));
    for (int i = 0; i < w.View().Layers().Count(); ++i) QVERIFY(w.View().Layers().LayerAt(i).Visible());
    // The white background colour fills the canvas.
    const raster::TBitmap32& canvas = w.View().Bitmap();
    QCOMPARE(canvas.ScanLine(0)[0], raster::TColor32(0xFFFFFFFFu));
    QCOMPARE(canvas.ScanLine(599)[799], raster::TColor32(0xFFFFFFFFu));
    // Only plain colours: the default FRONT colour (192, 220, 192) is drawn somewhere when the
    // template has a FRONT layer.
    bool front = false;
    std::ifstream ini(fUnderTest.Data->File("Templates/" + templates.front()));
    for (std::string line; std::getline(ini, line);) front = front || line.find("=FRONT") != std::string::npos;
    if (front) QVERIFY(CountPixels(w.View(), 0xFFC0DCC0u) > 0);
  }

  void droppingAPictureOnTheSourcePanelOrThePreview() {
    SmallerOutput();
    MainWindow& w = *fUnderTest.Window;
    Drop(Ui(w).sourcePanel, GoodPicture());
    QCOMPARE(fUnderTest.Window->State().SlotFiles[1 - 1], GoodPicture());
    QVERIFY(!fUnderTest.Window->State().Sources[1 - 1].UsesColour());
    QVERIFY(!Ui(w).sourcePicture->Empty());
    QCOMPARE(w.RenderCount(), 1);

    Drop(Ui(w).preview, GoodPicture2());
    QCOMPARE(fUnderTest.Window->State().SlotFiles[2 - 1], GoodPicture2());
    QVERIFY(!fUnderTest.Window->State().Sources[2 - 1].UsesColour());
    QCOMPARE(fUnderTest.Window->State().CurrentSlot, 1);
    QCOMPARE(Ui(w).sourceName->text(), QStringLiteral("BACKGROUND"));
    QCOMPARE(fUnderTest.Window->State().SlotFiles[1 - 1], GoodPicture());
    QCOMPARE(w.RenderCount(), 2);
  }

  void theHiddenResamplerListRetunesTheLayersAndTheNextRenders() {
    SmallerOutput();
    MainWindow& w = *fUnderTest.Window;
    QTest::mouseClick(Ui(w).apply, Qt::LeftButton);
    Settle(w);
    auto classes = [&w] {
      QStringList names;
      for (int i = 0; i < w.View().Layers().Count(); ++i)
        if (const auto* layer = dynamic_cast<const raster::TBitmapLayer*>(&w.View().Layers().LayerAt(i)))
          names << QString::fromStdString(layer->Bitmap().Resampler().ClassName());
      names.removeDuplicates();
      return names;
    };
    QCOMPARE(classes(), QStringList{QStringLiteral("TLinearResampler")});
    const int nearest = Ui(w).resamplerList->findText(QStringLiteral("TNearestResampler"));
    QVERIFY(nearest >= 0);
    Ui(w).resamplerList->setCurrentIndex(nearest);
    QCOMPARE(classes(), QStringList{QStringLiteral("TNearestResampler")});
    QCOMPARE(w.RenderCount(), 1);
    QTest::mouseClick(Ui(w).apply, Qt::LeftButton);
    Settle(w);
    QCOMPARE(classes(), QStringList{QStringLiteral("TNearestResampler")});
    QVERIFY(fUnderTest.Services.Errors.isEmpty());
  }

  void thePreviewShowsTheRender() {
    MainWindow& w = *fUnderTest.Window;
    QTest::mouseClick(Ui(w).apply, Qt::LeftButton);
    Settle(w);
    // 800 x 600 shrunk into 297 x 297 keeps its proportions: 297 x 223 (rounded), centred, so
    // the rows above and below show the checkerboard and the picture's middle shows the canvas.
    QTRY_VERIFY(w.View().BufferValid());
    const QImage shot = Ui(w).preview->grab().toImage();
    QCOMPARE(QColor(shot.pixel(3, 3)), QColor(176, 176, 176));
    QCOMPARE(QColor(shot.pixel(5, 148)).alpha(), 255);
    QVERIFY(QColor(shot.pixel(5, 148)) != QColor(176, 176, 176));
  }
};

QUIRLON_APP_TEST(AppHandlerTest);

}  // namespace quirlon::app::test

#include "HandlerTest.moc"
