// The main window's layout and its state right after start-up.
#include <QCheckBox>
#include <QComboBox>
#include <QTabBar>
#include <QTest>

#include "AppTestSupport.h"
#include "app/Unit2.h"
#include "core/RenderSettings.h"
#include "raster/Kernels.h"
#include "raster/Resamplers.h"

namespace quirlon::app::test {

class AppLayoutTest : public QObject {
  Q_OBJECT
  std::unique_ptr<TDataFolder> fData;
  TTestServices fServices;
  std::unique_ptr<TForm1> fWindow;

private slots:
  void init() {
    ResetSettings();
    fServices = TTestServices{};
    fData = std::make_unique<TDataFolder>();
    fWindow = MakeWindow(fServices, *fData);
  }
  void cleanup() {
    fWindow.reset();
    fData.reset();
  }

  void controls_data() {
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    auto row = [](const char* name, const char* parent, int l, int t, int w, int h) {
      QTest::newRow(name) << QString::fromLatin1(parent) << QRect(l, t, w, h);
    };
    row("sToolBar1", "Form1", 0, 0, 633, 49);
    row("SaveButton", "sToolBar1", 0, 2, 71, 36);
    row("AboutToolButton", "sToolBar1", 71, 2, 67, 36);
    row("TemplatePanel", "Form1", 8, 64, 153, 249);
    row("TemplateCaption", "TemplatePanel", 8, 16, 45, 23);
    row("TemplateBevel", "TemplatePanel", 8, 56, 137, 185);
    row("TemplateImage", "TemplatePanel", 16, 104, 120, 90);
    row("ApplyTempButton", "TemplatePanel", 40, 208, 99, 25);
    row("TemplateUpDown", "Form1", 8, 320, 153, 33);
    row("ImgView", "Form1", 168, 56, 297, 297);
    row("sPanel2", "Form1", 168, 360, 297, 57);
    row("sLabel1", "sPanel2", 8, 16, 37, 14);
    row("WidthSpinEdit", "sPanel2", 48, 16, 49, 21);
    row("sLabel2", "sPanel2", 104, 16, 40, 14);
    row("HeightSpinEdit", "sPanel2", 144, 16, 49, 21);
    row("sLabel11", "sPanel2", 208, 16, 21, 13);
    row("DpiSpinEdit", "sPanel2", 232, 16, 49, 21);
    row("LayerSourcePanel", "Form1", 472, 64, 153, 249);
    row("LayerSourceCaption", "LayerSourcePanel", 8, 16, 120, 23);
    row("LSClearImage", "LayerSourcePanel", 80, 16, 33, 33);
    row("LayerSourceBevel", "LayerSourcePanel", 8, 56, 137, 129);
    row("LayerSourceImg", "LayerSourcePanel", 16, 64, 121, 113);
    row("LayerSourceColorSelect", "LayerSourcePanel", 48, 192, 57, 49);
    row("LayerSourceUpDown", "Form1", 472, 320, 153, 33);
    row("TrBckCheckBox", "Form1", 480, 360, 138, 20);
    row("LarDiAreaCheckBox", "Form1", 480, 384, 93, 20);
    row("FlipCheckBox", "Form1", 480, 408, 97, 20);
    row("SettingsPageControl", "Form1", 0, 416, 633, 105);
    row("ShowReflectionCheckBox", "ReflectionPage", 8, 8, 46, 20);
    row("FadeReflectionCheckBox", "ReflectionPage", 8, 40, 44, 20);
    row("sLabel3", "ReflectionPage", 112, 8, 37, 13);
    row("OpacityReflectionTrackBar", "ReflectionPage", 160, 4, 150, 25);
    row("sLabel4", "ReflectionPage", 112, 40, 33, 13);
    row("ReflectionLengthTrackBar", "ReflectionPage", 160, 35, 150, 25);
    row("sLabel5", "ReflectionPage", 360, 8, 50, 13);
    row("ReflectionBrightnessTrackBar", "ReflectionPage", 424, 5, 150, 25);
    row("sLabel6", "ReflectionPage", 339, 40, 71, 13);
    row("BlurReflectionTrackBar", "ReflectionPage", 424, 35, 150, 25);
    row("ShowShadowCheckBox", "ShadowPage", 8, 32, 54, 19);
    row("sLabel7", "ShadowPage", 238, 8, 36, 13);
    row("ShadowDensityTrackBar", "ShadowPage", 280, 4, 150, 28);
    row("ShadowColorSelect", "ShadowPage", 432, 0, 41, 33);
    row("sLabel8", "ShadowPage", 214, 53, 58, 13);
    row("BlurShadowTrackBar", "ShadowPage", 280, 49, 150, 25);
    row("sLabel9", "ObjectPage", 40, 8, 38, 13);
    row("ObjectShadingTrackBar", "ObjectPage", 104, 8, 150, 25);
    row("ObjectShadingColorSelect", "ObjectPage", 256, 0, 41, 33);
    row("sLabel10", "ObjectPage", 40, 48, 46, 13);
    row("ObjectHighlightTrackBar", "ObjectPage", 104, 48, 150, 25);
    row("ObjectHighlightColorSelect", "ObjectPage", 256, 40, 41, 33);
    row("ResamplerClassNamesList", "Form1", 0, 360, 145, 21);
    row("KernelClassNamesList", "Form1", 0, 384, 145, 21);
  }

  void controls() {
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    auto* widget = fWindow->findChild<QWidget*>(name);
    QVERIFY2(widget != nullptr, qPrintable(name));
    QCOMPARE(widget->parentWidget()->objectName(), parent);
    if (auto* label = qobject_cast<TAutoSizeLabel*>(widget)) {
      // Labels grow to the right when the caption needs it, from their designed size.
      QCOMPARE(label->DesignWidth(), geometry.width());
      QCOMPARE(label->pos(), geometry.topLeft());
      QCOMPARE(label->height(), geometry.height());
      QVERIFY(label->width() >= geometry.width());
      QVERIFY(label->width() >= label->sizeHint().width());
      return;
    }
    if (qobject_cast<QCheckBox*>(widget) != nullptr) {
      // Check boxes keep their place and grow to the right only when the caption needs it.
      QCOMPARE(widget->pos(), geometry.topLeft());
      QCOMPARE(widget->height(), geometry.height());
      QVERIFY(widget->width() >= geometry.width());
      QVERIFY(widget->width() == geometry.width() || widget->width() == widget->sizeHint().width());
      return;
    }
    QCOMPARE(widget->geometry(), geometry);
  }

  void captionsFontsAndRanges() {
    TForm1& w = *fWindow;
    QCOMPARE(w.SaveButton->text(), QStringLiteral("Save picture"));
    QCOMPARE(w.AboutToolButton->text(), QStringLiteral("About..."));
    QCOMPARE(w.SaveButton->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QVERIFY(!w.SaveButton->icon().isNull() && !w.AboutToolButton->icon().isNull());
    QCOMPARE(w.TemplatePanel->Caption(), QStringLiteral("TOP"));
    QCOMPARE(w.LayerSourcePanel->Caption(), QStringLiteral("Click to load image"));
    QCOMPARE(w.ApplyTempButton->text(), QStringLiteral("APPLY >>"));
    QCOMPARE(w.sLabel1->text(), QStringLiteral("Width:"));
    QCOMPARE(w.sLabel2->text(), QStringLiteral("Height:"));
    QCOMPARE(w.sLabel11->text(), QStringLiteral("DPI:"));
    QCOMPARE(w.sLabel6->text(), QStringLiteral("Blur reflections"));
    QCOMPARE(w.sLabel8->text(), QStringLiteral("Blur shadow"));
    QCOMPARE(w.TrBckCheckBox->text(), QStringLiteral("Transparent background"));
    QCOMPARE(w.LarDiAreaCheckBox->text(), QStringLiteral("Large disc area"));
    QCOMPARE(w.FlipCheckBox->text(), QStringLiteral("Flip when saved"));

    QCOMPARE(w.font().pixelSize(), 11);
    QCOMPARE(w.sLabel1->font().pixelSize(), 12);
    QCOMPARE(w.sLabel3->font().pixelSize(), 11);
    QCOMPARE(w.TemplateCaption->font().pixelSize(), 19);
    QCOMPARE(w.LayerSourceCaption->font().pixelSize(), 19);
    QCOMPARE(w.TemplatePanel->font().pixelSize(), 19);
    QCOMPARE(w.LayerSourcePanel->font().pixelSize(), 15);

    struct Spin { TSpinEdit* edit; int min, max, value; };
    for (const Spin& s : {Spin{w.WidthSpinEdit, 32, 2048, 800}, Spin{w.HeightSpinEdit, 32, 2048, 600},
                          Spin{w.DpiSpinEdit, 60, 600, 96}}) {
      QCOMPARE(s.edit->minimum(), s.min);
      QCOMPARE(s.edit->maximum(), s.max);
      QCOMPARE(s.edit->Value(), s.value);
      QCOMPARE(s.edit->Text(), QString::number(s.value));
    }
    struct Bar { TTrackBar* bar; int min, max, value; };
    for (const Bar& b : {Bar{w.OpacityReflectionTrackBar, 0, 255, 255}, Bar{w.ReflectionLengthTrackBar, 1, 100, 50},
                         Bar{w.ReflectionBrightnessTrackBar, -50, 50, 0}, Bar{w.BlurReflectionTrackBar, 0, 100, 15},
                         Bar{w.ShadowDensityTrackBar, 0, 255, 255}, Bar{w.BlurShadowTrackBar, 0, 100, 25},
                         Bar{w.ObjectShadingTrackBar, 0, 255, 255}, Bar{w.ObjectHighlightTrackBar, 0, 255, 255}}) {
      QCOMPARE(b.bar->minimum(), b.min);
      QCOMPARE(b.bar->maximum(), b.max);
      QCOMPARE(b.bar->value(), b.value);
      QCOMPARE(b.bar->tickPosition(), QSlider::NoTicks);
      QCOMPARE(b.bar->orientation(), Qt::Horizontal);
    }
    QCOMPARE(w.TemplateUpDown->Min(), 1);
    QCOMPARE(w.TemplateUpDown->Max(), 15);
    QCOMPARE(w.TemplateUpDown->Position(), 1);
    QCOMPARE(w.LayerSourceUpDown->Min(), 1);
    QCOMPARE(w.LayerSourceUpDown->Max(), 9);
    QCOMPARE(w.LayerSourceUpDown->Position(), 1);

    QVERIFY(w.ShowReflectionCheckBox->isChecked());
    QVERIFY(w.FadeReflectionCheckBox->isChecked());
    QVERIFY(w.ShowShadowCheckBox->isChecked());
    QVERIFY(!w.TrBckCheckBox->isChecked());
    QVERIFY(!w.LarDiAreaCheckBox->isChecked());
    QVERIFY(!w.FlipCheckBox->isChecked());
    QCOMPARE(w.ShadowColorSelect->Color(), raster::TColor(0x000000));
    QCOMPARE(w.ObjectShadingColorSelect->Color(), raster::TColor(0x000000));
    QCOMPARE(w.ObjectHighlightColorSelect->Color(), raster::TColor(0xFFFFFF));
    QCOMPARE(w.LayerSourceColorSelect->iconSize(), QSize(40, 40));
    QCOMPARE(w.ShadowColorSelect->iconSize(), QSize(25, 25));
  }

  void windowIsFixedAndCannotMaximise() {
    QCOMPARE(fWindow->minimumSize(), QSize(633, 523));
    QCOMPARE(fWindow->maximumSize(), QSize(633, 523));
    const Qt::WindowFlags flags = fWindow->windowFlags();
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowSystemMenuHint);
    QCOMPARE(fWindow->pos(), QPoint(312, 222));
    ShowWindow(*fWindow);
    fWindow->showMinimized();
    QTRY_VERIFY(fWindow->isMinimized());
  }

  void startState() {
    TForm1& w = *fWindow;
    QVERIFY2(fServices.Errors.isEmpty(), qPrintable(fServices.Errors.join(QLatin1Char('\n'))));
    QCOMPARE(w.windowTitle(), QStringLiteral("maker"));
    QCOMPARE(w.LayerSourceCaption->text(), QStringLiteral("BACKGROUND"));
    QCOMPARE(w.LayerSourceColorSelect->Color(), raster::TColor(0xFFFFFF));
    QVERIFY(w.LayerSourceImg->Empty());
    QVERIFY(w.LayerSourceImg->pixmap().isNull());
    QVERIFY(w.LSClearImage->Empty());
    QCOMPARE(w.SettingsPageControl->count(), 3);
    QCOMPARE(w.SettingsPageControl->tabText(0), QStringLiteral("Reflection"));
    QCOMPARE(w.SettingsPageControl->tabText(1), QStringLiteral("Shadow"));
    QCOMPARE(w.SettingsPageControl->tabText(2), QStringLiteral("Object"));
    QCOMPARE(w.SettingsPageControl->currentIndex(), 0);

    const std::vector<std::string> templates = fData->Templates();
    QVERIFY(!templates.empty());
    const std::string first = templates.front();
    QCOMPARE(w.TemplateCaption->text(), QString::fromStdString(first.substr(0, first.size() - 4)));
    QVERIFY(!w.TemplateImage->Empty());
    QCOMPARE(core::RenderSettings.CurrentTemplate, 1);

    // No render yet: the canvas has the preview's size and is empty, there are no layers.
    QCOMPARE(w.RenderCount(), 0);
    QCOMPARE(fServices.BusyPushes, 0);
    QVERIFY(w.LayerKinds().empty());
    QCOMPARE(w.View().Layers().Count(), 0);
    const raster::TBitmap32& canvas = w.View().Bitmap();
    QCOMPARE(canvas.Width(), 297);
    QCOMPARE(canvas.Height(), 297);
    for (int y = 0; y < canvas.Height(); ++y)
      for (int x = 0; x < canvas.Width(); ++x) QCOMPARE(canvas.ScanLine(y)[x], raster::TColor32(0));
  }

  void previewShowsCheckerboardAndFrame() {
    ShowWindow(*fWindow);
    const QImage shot = fWindow->ImgView->grab().toImage();
    QCOMPARE(shot.size() / shot.devicePixelRatio(), QSize(297, 297));
    // Black outline, then 8-pixel squares: grey (176, 176, 176) at the top left, white next to it.
    QCOMPARE(QColor(shot.pixel(0, 0)), QColor(0, 0, 0));
    QCOMPARE(QColor(shot.pixel(296, 150)), QColor(0, 0, 0));
    QCOMPARE(QColor(shot.pixel(3, 3)), QColor(176, 176, 176));
    QCOMPARE(QColor(shot.pixel(11, 3)), QColor(255, 255, 255));
    QCOMPARE(QColor(shot.pixel(11, 11)), QColor(176, 176, 176));
  }

  void hiddenListsHoldTheRegisteredClasses() {
    TForm1& w = *fWindow;
    QVERIFY(w.ResamplerClassNamesList->isHidden());
    QVERIFY(w.KernelClassNamesList->isHidden());
    std::vector<std::string> resamplers, kernels;
    raster::GetResamplerClassNames(resamplers);
    raster::GetKernelClassNames(kernels);
    QCOMPARE(w.ResamplerClassNamesList->count(), static_cast<int>(resamplers.size()));
    QCOMPARE(w.KernelClassNamesList->count(), static_cast<int>(kernels.size()));
    for (std::size_t i = 0; i < resamplers.size(); ++i)
      QCOMPARE(w.ResamplerClassNamesList->itemText(static_cast<int>(i)).toStdString(), resamplers[i]);
    QCOMPARE(w.ResamplerClassNamesList->currentIndex(), 1);
    QCOMPARE(w.ResamplerClassNamesList->currentText(), QStringLiteral("TLinearResampler"));
    QCOMPARE(w.KernelClassNamesList->currentIndex(), 0);
  }

  void keyboardOrder() {
    TForm1& w = *fWindow;
    ShowWindow(w);
    w.ImgView->setFocus(Qt::OtherFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.ImgView));
    const QStringList named = {"ImgView", "LayerSourceUpDown", "WidthSpinEdit", "HeightSpinEdit", "DpiSpinEdit",
                               "ApplyTempButton", "TemplateUpDown", "SettingsPageControl", "LarDiAreaCheckBox",
                               "FlipCheckBox"};
    const QStringList never = {"TrBckCheckBox", "SaveButton", "AboutToolButton", "LayerSourceColorSelect",
                               "ShadowColorSelect", "ObjectShadingColorSelect", "ObjectHighlightColorSelect"};
    QStringList seen{QStringLiteral("ImgView")};
    for (int i = 0; i < 40; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QWidget* f = QApplication::focusWidget();
      // A compound control (the page control's tab bar, a field's editor) counts as its owner.
      while (f != nullptr && !named.contains(f->objectName()) && !never.contains(f->objectName())) f = f->parentWidget();
      if (f == nullptr) continue;
      QVERIFY2(!never.contains(f->objectName()), qPrintable(f->objectName()));
      if (f->objectName() == QStringLiteral("ImgView")) break;
      if (seen.last() != f->objectName()) seen << f->objectName();
    }
    QCOMPARE(seen, named);
  }

  void flipCheckBoxLiesOverTheTabStripAndIsClickable() {
    TForm1& w = *fWindow;
    ShowWindow(w);
    const QRect flip = w.FlipCheckBox->geometry();
    const QRect strip(w.SettingsPageControl->mapTo(&w, w.SettingsPageControl->tabBar()->geometry().topLeft()),
                      w.SettingsPageControl->tabBar()->size());
    QVERIFY(QRect(0, strip.top(), 633, strip.height()).intersects(flip));
    QVERIFY(flip.left() > strip.right());
    const QPoint inside(flip.left() + 8, 420);
    QCOMPARE(w.childAt(inside), static_cast<QWidget*>(w.FlipCheckBox));
    QTest::mouseClick(w.FlipCheckBox, Qt::LeftButton, {}, w.FlipCheckBox->mapFrom(&w, inside));
    QVERIFY(w.FlipCheckBox->isChecked());
    QCOMPARE(w.RenderCount(), 0);
  }
};

QUIRLON_APP_TEST(AppLayoutTest);

}  // namespace quirlon::app::test

#include "LayoutTest.moc"
