// The handlers: what each stores and whether it renders, driven through the real controls.
#include <fstream>

#include <QDropEvent>
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
std::int64_t CountPixels(const raster::TCustomImage32& view, raster::TColor32 colour) {
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
  std::unique_ptr<TDataFolder> fData;
  TTestServices fServices;
  std::unique_ptr<TForm1> fWindow;

  // Smaller renders keep the suite quick; the size fields are set before the spy starts.
  void SmallerOutput() {
    const QSignalBlocker quietWidth(fWindow->WidthSpinEdit);
    const QSignalBlocker quietHeight(fWindow->HeightSpinEdit);
    fWindow->WidthSpinEdit->setValue(200);
    fWindow->HeightSpinEdit->setValue(150);
  }

private slots:
  void init() {
    ResetSettings();
    fServices = TTestServices{};
    fData = std::make_unique<TDataFolder>();
    fWindow = MakeWindow(fServices, *fData);
    ShowWindow(*fWindow);
  }
  void cleanup() {
    QCOMPARE(fServices.BusyDepth, 0);
    fWindow.reset();
    fData.reset();
  }

  void typingOverTheSelectedWidthRendersEachValueOfAtLeast32() {
    QSignalSpy spy(fWindow.get(), &TForm1::Rendered);
    fWindow->WidthSpinEdit->setFocus();
    fWindow->WidthSpinEdit->selectAll();
    QTest::keyClicks(fWindow->WidthSpinEdit, QStringLiteral("1024"));
    QCOMPARE(RenderedSizes(spy), (TSizes{{102, 600}, {1024, 600}}));
    QCOMPARE(fWindow->View().Bitmap().Width(), 1024);
    QCOMPARE(fWindow->View().Bitmap().Height(), 600);
    QVERIFY(fServices.Errors.isEmpty());
  }

  void emptyingTheWidthRendersAt32AndLettersCannotBeTyped() {
    QSignalSpy spy(fWindow.get(), &TForm1::Rendered);
    fWindow->WidthSpinEdit->setFocus();
    fWindow->WidthSpinEdit->selectAll();
    QTest::keyClick(fWindow->WidthSpinEdit, Qt::Key_Backspace);
    QCOMPARE(fWindow->WidthSpinEdit->Text(), QString());
    QCOMPARE(RenderedSizes(spy), (TSizes{{32, 600}}));
    QTest::keyClicks(fWindow->WidthSpinEdit, QStringLiteral("x-"));
    QCOMPARE(fWindow->WidthSpinEdit->Text(), QString());
    QCOMPARE(spy.count(), 1);
  }

  void aWidthAbove2048IsBroughtInRangeWhenTheFieldLosesFocus() {
    QSignalSpy spy(fWindow.get(), &TForm1::Rendered);
    fWindow->WidthSpinEdit->setFocus();
    fWindow->WidthSpinEdit->selectAll();
    QTest::keyClicks(fWindow->WidthSpinEdit, QStringLiteral("3000"));
    QCOMPARE(fWindow->WidthSpinEdit->Text(), QStringLiteral("3000"));
    fWindow->HeightSpinEdit->setFocus();
    QTRY_COMPARE(fWindow->WidthSpinEdit->Text(), QStringLiteral("2048"));
    QVERIFY(!spy.isEmpty());
    QCOMPARE(RenderedSizes(spy).last(), qMakePair(2048, 600));
    for (const auto& size : RenderedSizes(spy)) QVERIFY(size.first <= 2048);
  }

  void aHeightBelow32RendersNothingButIsPassedWithTheNextWidthChange() {
    QSignalSpy spy(fWindow.get(), &TForm1::Rendered);
    fWindow->HeightSpinEdit->setFocus();
    fWindow->HeightSpinEdit->selectAll();
    QTest::keyClicks(fWindow->HeightSpinEdit, QStringLiteral("5"));
    QCOMPARE(spy.count(), 0);
    QCOMPARE(fWindow->RenderCount(), 0);
    // The width's arrows step by one and do not take the focus from the height field.
    fWindow->WidthSpinEdit->stepBy(1);
    QCOMPARE(RenderedSizes(spy), (TSizes{{801, 5}}));
    QCOMPARE(fWindow->View().Bitmap().Height(), 5);
  }

  void closingWhileAFieldIsBeingEditedRunsNoHandler() {
    // The field is brought into range when it loses the focus, which happens while the window
    // is being destroyed: that change must not reach the half-destroyed window.
    fWindow->WidthSpinEdit->setFocus();
    fWindow->WidthSpinEdit->selectAll();
    QTest::keyClicks(fWindow->WidthSpinEdit, QStringLiteral("5"));
    QCOMPARE(fServices.BusyPushes, 0);
    fWindow.reset();
    QCOMPARE(fServices.BusyPushes, 0);
  }

  void aPictureThenAColourForFrontRendersTheColourAndKeepsTheThumbnail() {
    SmallerOutput();
    TForm1& w = *fWindow;
    ClickArrow(w.LayerSourceUpDown, true);
    QCOMPARE(w.LayerSourceCaption->text(), QStringLiteral("FRONT"));
    QCOMPARE(w.LayerSourceColorSelect->Color(), raster::TColor(0xC0DCC0));
    const int before = w.RenderCount();
    QCOMPARE(before, 0);

    fServices.OpenAnswers.push_back(GoodPicture());
    QTest::mouseClick(w.LayerSourceImg, Qt::LeftButton);
    QCOMPARE(fServices.OpenTitles, QStringList{QStringLiteral("Choose Picture")});
    QVERIFY(QString::fromStdString(fServices.OpenFilters.at(0)).startsWith(QStringLiteral("All (")));
    QVERIFY(QString::fromStdString(fServices.OpenFilters.at(0)).contains(QStringLiteral("*.png")));
    QCOMPARE(w.RenderCount(), 1);
    QCOMPARE(core::SourceFiles[2], GoodPicture());
    QVERIFY(!core::RenderSettings.SlotUsesColor[2]);
    QVERIFY(!w.LayerSourceImg->Empty());
    const std::int64_t redBefore = CountPixels(w.View(), 0xFFFF0000u);

    fServices.ColorAnswers.push_back(raster::TColor(0x0000FF));  // red
    QTest::mouseClick(w.LayerSourceColorSelect, Qt::LeftButton);
    QCOMPARE(fServices.ColorInitials, std::vector<raster::TColor>{0xC0DCC0});
    QCOMPARE(w.RenderCount(), 2);
    QCOMPARE(core::RenderSettings.SlotColor[2], raster::TColor(0x0000FF));
    QVERIFY(core::RenderSettings.SlotUsesColor[2]);
    QCOMPARE(core::SourceFiles[2], GoodPicture());
    QVERIFY(!w.LayerSourceImg->Empty());
    QVERIFY(CountPixels(w.View(), 0xFFFF0000u) > redBefore + 100);

    // Away and back: the picture shows again and the button shows the chosen colour.
    ClickArrow(w.LayerSourceUpDown, true);
    QVERIFY(w.LayerSourceImg->Empty());
    QCOMPARE(w.LayerSourceColorSelect->Color(), raster::TColor(0x808000));
    ClickArrow(w.LayerSourceUpDown, false);
    QVERIFY(!w.LayerSourceImg->Empty());
    QCOMPARE(w.LayerSourceColorSelect->Color(), raster::TColor(0x0000FF));
    QCOMPARE(w.RenderCount(), 2);
  }

  void switchingSlotsRendersNothingAndNamesEachSlot() {
    TForm1& w = *fWindow;
    const QStringList expected = {"BACKGROUND", "FRONT", "SIDE", "TOP", "DISC", "FRONT 2", "SIDE 2", "TOP 2", "DISC 2"};
    const raster::TColor colours[] = {0xFFFFFF, 0xC0DCC0, 0x808000, 0x800080, 0xF0CAA6,
                                      0x000080, 0x008080, 0xFFFF00, 0xC0DCC0};
    for (int slot = 1; slot <= 9; ++slot) {
      if (slot > 1) ClickArrow(w.LayerSourceUpDown, true);
      QCOMPARE(core::RenderSettings.CurrentSlot, slot);
      QCOMPARE(w.LayerSourceCaption->text(), expected[slot - 1]);
      QCOMPARE(w.LayerSourceColorSelect->Color(), colours[slot - 1]);
      QVERIFY(w.LayerSourceImg->Empty());
    }
    ClickArrow(w.LayerSourceUpDown, true);  // stays at 9
    QCOMPARE(core::RenderSettings.CurrentSlot, 9);
    QCOMPARE(w.RenderCount(), 0);
    QCOMPARE(fServices.BusyPushes, 0);
  }

  void aTemplateChosenWithTheArrowsIsRenderedByTheNextBarRelease() {
    const std::vector<std::string> templates = fData->Templates();
    if (templates.size() < 3) QSKIP("the bundled library has fewer than three templates");
    SmallerOutput();
    TForm1& w = *fWindow;
    ClickArrow(w.TemplateUpDown, true);
    ClickArrow(w.TemplateUpDown, true);
    QCOMPARE(core::RenderSettings.CurrentTemplate, 3);
    QCOMPARE(w.TemplateCaption->text().toStdString(), templates[2].substr(0, templates[2].size() - 4));
    QCOMPARE(w.RenderCount(), 0);
    w.OpacityReflectionTrackBar->setValue(100);
    QCOMPARE(w.RenderCount(), 0);
    ReleaseOn(w.OpacityReflectionTrackBar);
    QCOMPARE(w.RenderCount(), 1);
    QCOMPARE(int(core::RenderSettings.ReflectionOpacity), 100);
    QCOMPARE(w.LayerKinds(), LayerTypesOf(fData->File("Templates/" + templates[2])));
    QVERIFY(fServices.Errors.isEmpty());
  }

  void clearingShowHidesExactlyTheReflectionLayersWithoutARender() {
    SmallerOutput();
    TForm1& w = *fWindow;
    for (bool backgroundPicture : {false, true}) {
      if (backgroundPicture) {
        fServices.OpenAnswers.push_back(GoodPicture());
        QTest::mouseClick(w.LayerSourceImg, Qt::LeftButton);  // slot 1, BACKGROUND: renders
      } else {
        QTest::mouseClick(w.ApplyTempButton, Qt::LeftButton);
      }
      const int renders = w.RenderCount();
      const std::vector<std::string> kinds = w.LayerKinds();
      const int first = backgroundPicture ? 1 : 0;
      QCOMPARE(w.View().Layers().Count(), static_cast<int>(kinds.size()) + first);
      bool anyReflection = false;
      for (const auto& k : kinds) anyReflection = anyReflection || IsReflectionKind(k);
      if (!anyReflection) QSKIP("the first template has no reflection layer");

      w.SettingsPageControl->setCurrentIndex(0);
      QTest::mouseClick(w.ShowReflectionCheckBox, Qt::LeftButton);
      QVERIFY(!w.ShowReflectionCheckBox->isChecked());
      QVERIFY(!core::RenderSettings.ShowReflection);
      QCOMPARE(w.RenderCount(), renders);
      if (backgroundPicture) QVERIFY(w.View().Layers().LayerAt(0).Visible());
      for (std::size_t i = 0; i < kinds.size(); ++i)
        QCOMPARE(w.View().Layers().LayerAt(first + static_cast<int>(i)).Visible(), !IsReflectionKind(kinds[i]));

      QTest::mouseClick(w.ShowReflectionCheckBox, Qt::LeftButton);
      QVERIFY(core::RenderSettings.ShowReflection);
      for (int i = 0; i < w.View().Layers().Count(); ++i) QVERIFY(w.View().Layers().LayerAt(i).Visible());
      QCOMPARE(w.RenderCount(), renders);
    }
  }

  void clearingShowOnTheShadowPageHidesTheShadowLayers() {
    SmallerOutput();
    TForm1& w = *fWindow;
    QTest::mouseClick(w.ApplyTempButton, Qt::LeftButton);
    w.SettingsPageControl->setCurrentIndex(1);
    QTest::mouseClick(w.ShowShadowCheckBox, Qt::LeftButton);
    QVERIFY(!core::RenderSettings.ShowShadow);
    QCOMPARE(w.RenderCount(), 1);
    for (std::size_t i = 0; i < w.LayerKinds().size(); ++i)
      QCOMPARE(w.View().Layers().LayerAt(static_cast<int>(i)).Visible(), w.LayerKinds()[i] != "shadow");
    // The next render builds with the stored state.
    QTest::mouseClick(w.ApplyTempButton, Qt::LeftButton);
    for (std::size_t i = 0; i < w.LayerKinds().size(); ++i)
      QCOMPARE(w.View().Layers().LayerAt(static_cast<int>(i)).Visible(), w.LayerKinds()[i] != "shadow");
  }

  void aBarMovedWithKeysStoresNothingUntilReleased() {
    SmallerOutput();
    TForm1& w = *fWindow;
    w.BlurReflectionTrackBar->setFocus();
    QTest::keyClick(w.BlurReflectionTrackBar, Qt::Key_Right);
    QTest::keyClick(w.BlurReflectionTrackBar, Qt::Key_Right);
    QCOMPARE(w.BlurReflectionTrackBar->value(), 17);
    QCOMPARE(int(core::RenderSettings.ReflectionBlur), 15);
    QCOMPARE(w.RenderCount(), 0);
    ReleaseOn(w.BlurReflectionTrackBar);
    QCOMPARE(int(core::RenderSettings.ReflectionBlur), 17);
    QCOMPARE(w.RenderCount(), 1);
  }

  void everyBarStoresItsPositionOnRelease() {
    SmallerOutput();
    TForm1& w = *fWindow;
    core::TRenderSettings& s = core::RenderSettings;
    struct Case { TTrackBar* bar; int page; int value; std::function<int()> stored; };
    const Case cases[] = {
        {w.OpacityReflectionTrackBar, 0, 7, [&] { return int(s.ReflectionOpacity); }},
        {w.ReflectionLengthTrackBar, 0, 1, [&] { return int(s.ReflectionLength); }},
        {w.ReflectionBrightnessTrackBar, 0, -50, [&] { return s.ReflectionBrightness; }},
        {w.BlurReflectionTrackBar, 0, 0, [&] { return int(s.ReflectionBlur); }},
        {w.ShadowDensityTrackBar, 1, 128, [&] { return int(s.ShadowDensity); }},
        {w.BlurShadowTrackBar, 1, 100, [&] { return int(s.ShadowBlur); }},
        {w.ObjectShadingTrackBar, 2, 0, [&] { return int(s.ShadingStrength); }},
        {w.ObjectHighlightTrackBar, 2, 255, [&] { return int(s.HighlightStrength); }},
    };
    int renders = 0;
    for (const Case& c : cases) {
      w.SettingsPageControl->setCurrentIndex(c.page);
      c.bar->setValue(c.value);
      QCOMPARE(w.RenderCount(), renders);
      ReleaseOn(c.bar);
      QCOMPARE(c.stored(), c.value);
      QCOMPARE(w.RenderCount(), ++renders);
    }
    // A release without a move renders all the same.
    ReleaseOn(w.ObjectHighlightTrackBar);
    QCOMPARE(w.RenderCount(), ++renders);
    QVERIFY(fServices.Errors.isEmpty());
  }

  void colourButtonsRenderOnEveryConfirmation() {
    SmallerOutput();
    TForm1& w = *fWindow;
    w.SettingsPageControl->setCurrentIndex(1);
    fServices.ColorAnswers.push_back(raster::TColor(0x000000));  // the colour it already has
    QTest::mouseClick(w.ShadowColorSelect, Qt::LeftButton);
    QCOMPARE(w.RenderCount(), 1);
    QCOMPARE(core::RenderSettings.ShadowColor, raster::TColor(0));
    QTest::mouseClick(w.ShadowColorSelect, Qt::LeftButton);  // cancelled
    QCOMPARE(w.RenderCount(), 1);

    w.SettingsPageControl->setCurrentIndex(2);
    fServices.ColorAnswers.push_back(raster::TColor(0x102030));
    QTest::mouseClick(w.ObjectShadingColorSelect, Qt::LeftButton);
    QCOMPARE(core::RenderSettings.ShadingColor, raster::TColor(0x102030));
    fServices.ColorAnswers.push_back(raster::TColor(0x405060));
    QTest::mouseClick(w.ObjectHighlightColorSelect, Qt::LeftButton);
    QCOMPARE(core::RenderSettings.HighlightColor, raster::TColor(0x405060));
    QCOMPARE(w.RenderCount(), 3);
    QCOMPARE(fServices.ColorInitials, (std::vector<raster::TColor>{0x000000, 0x000000, 0x000000, 0xFFFFFF}));
  }

  void checkBoxesStoreAndRender() {
    SmallerOutput();
    TForm1& w = *fWindow;
    QTest::mouseClick(w.TrBckCheckBox, Qt::LeftButton);
    QVERIFY(core::RenderSettings.TransparentBackground);
    QCOMPARE(w.RenderCount(), 1);
    // No background at all: the canvas stays transparent where no layer covers it.
    QCOMPARE(w.View().Bitmap().ScanLine(0)[0], raster::TColor32(0));
    QTest::mouseClick(w.LarDiAreaCheckBox, Qt::LeftButton);
    QVERIFY(core::RenderSettings.LargeDiscArea);
    QCOMPARE(w.RenderCount(), 2);
    QTest::mouseClick(w.FadeReflectionCheckBox, Qt::LeftButton);
    QVERIFY(!core::RenderSettings.FadeReflection);
    QCOMPARE(w.RenderCount(), 3);
    QTest::mouseClick(w.FlipCheckBox, Qt::LeftButton);
    QCOMPARE(w.RenderCount(), 3);
  }

  void aFreshStartAndApplyRendersTheFirstTemplateInTheDefaultColours() {
    TForm1& w = *fWindow;
    QSignalSpy spy(&w, &TForm1::Rendered);
    QTest::mouseClick(w.ApplyTempButton, Qt::LeftButton);
    QCOMPARE(RenderedSizes(spy), (TSizes{{800, 600}}));
    QCOMPARE(fServices.BusyPushes, 1);
    QVERIFY(fServices.Errors.isEmpty());
    const std::vector<std::string> templates = fData->Templates();
    QCOMPARE(w.LayerKinds(), LayerTypesOf(fData->File("Templates/" + templates.front())));
    QCOMPARE(w.View().Layers().Count(), static_cast<int>(w.LayerKinds().size()));
    for (int i = 0; i < w.View().Layers().Count(); ++i) QVERIFY(w.View().Layers().LayerAt(i).Visible());
    // The white background colour fills the canvas.
    const raster::TBitmap32& canvas = w.View().Bitmap();
    QCOMPARE(canvas.ScanLine(0)[0], raster::TColor32(0xFFFFFFFFu));
    QCOMPARE(canvas.ScanLine(599)[799], raster::TColor32(0xFFFFFFFFu));
    // Only plain colours: the default FRONT colour (192, 220, 192) is drawn somewhere when the
    // template has a FRONT layer.
    bool front = false;
    std::ifstream ini(fData->File("Templates/" + templates.front()));
    for (std::string line; std::getline(ini, line);) front = front || line.find("=FRONT") != std::string::npos;
    if (front) QVERIFY(CountPixels(w.View(), 0xFFC0DCC0u) > 0);
  }

  void droppingAPictureOnTheSourcePanelOrThePreview() {
    SmallerOutput();
    TForm1& w = *fWindow;
    Drop(w.LayerSourcePanel, GoodPicture());
    QCOMPARE(core::SourceFiles[1], GoodPicture());
    QVERIFY(!core::RenderSettings.SlotUsesColor[1]);
    QVERIFY(!w.LayerSourceImg->Empty());
    QCOMPARE(w.RenderCount(), 1);

    Drop(w.ImgView, GoodPicture2());
    QCOMPARE(core::SourceFiles[2], GoodPicture2());
    QVERIFY(!core::RenderSettings.SlotUsesColor[2]);
    QCOMPARE(core::RenderSettings.CurrentSlot, 1);
    QCOMPARE(w.LayerSourceCaption->text(), QStringLiteral("BACKGROUND"));
    QCOMPARE(core::SourceFiles[1], GoodPicture());
    QCOMPARE(w.RenderCount(), 2);
  }

  void theHiddenResamplerListRetunesTheLayersAndTheNextRenders() {
    SmallerOutput();
    TForm1& w = *fWindow;
    QTest::mouseClick(w.ApplyTempButton, Qt::LeftButton);
    auto classes = [&w] {
      QStringList names;
      for (int i = 0; i < w.View().Layers().Count(); ++i)
        if (const auto* layer = dynamic_cast<const raster::TBitmapLayer*>(&w.View().Layers().LayerAt(i)))
          names << QString::fromStdString(layer->Bitmap().Resampler().ClassName());
      names.removeDuplicates();
      return names;
    };
    QCOMPARE(classes(), QStringList{QStringLiteral("TLinearResampler")});
    const int nearest = w.ResamplerClassNamesList->findText(QStringLiteral("TNearestResampler"));
    QVERIFY(nearest >= 0);
    w.ResamplerClassNamesList->setCurrentIndex(nearest);
    QCOMPARE(classes(), QStringList{QStringLiteral("TNearestResampler")});
    QCOMPARE(w.RenderCount(), 1);
    QTest::mouseClick(w.ApplyTempButton, Qt::LeftButton);
    QCOMPARE(classes(), QStringList{QStringLiteral("TNearestResampler")});
    QVERIFY(fServices.Errors.isEmpty());
  }

  void thePreviewShowsTheRender() {
    TForm1& w = *fWindow;
    QTest::mouseClick(w.ApplyTempButton, Qt::LeftButton);
    // 800 x 600 shrunk into 297 x 297 keeps its proportions: 297 x 223 (rounded), centred, so
    // the rows above and below show the checkerboard and the picture's middle shows the canvas.
    QTRY_VERIFY(w.View().BufferValid());
    const QImage shot = w.ImgView->grab().toImage();
    QCOMPARE(QColor(shot.pixel(3, 3)), QColor(176, 176, 176));
    QCOMPARE(QColor(shot.pixel(5, 148)).alpha(), 255);
    QVERIFY(QColor(shot.pixel(5, 148)) != QColor(176, 176, 176));
  }
};

QUIRLON_APP_TEST(AppHandlerTest);

}  // namespace quirlon::app::test

#include "HandlerTest.moc"
