// The main window's layout and its state right after start-up.
#include <QCheckBox>
#include <QComboBox>
#include <QTabBar>
#include <QTest>

#include "AppTestSupport.h"
#include "app/AboutDialog.h"
#include "core/RenderSettings.h"
#include "raster/Kernels.h"
#include "raster/Resamplers.h"

namespace quirlon::app::test {

class AppLayoutTest : public QObject {
  Q_OBJECT
  TWindowUnderTest fUnderTest;

private slots:
  void init() { fUnderTest.Open(false); }
  void cleanup() { fUnderTest.Close(false); }

  void controls_data() {
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    auto row = [](const char* name, const char* parent, int l, int t, int w, int h) {
      QTest::newRow(name) << QString::fromLatin1(parent) << QRect(l, t, w, h);
    };
    row("toolBar", "mainWindow", 0, 0, 633, 49);
    row("savePicture", "toolBar", 0, 2, 71, 36);
    row("about", "toolBar", 71, 2, 67, 36);
    row("saveQualityLabel", "toolBar", 150, 13, 44, 14);
    row("saveQuality", "toolBar", 196, 10, 49, 21);
    row("pngEffortLabel", "toolBar", 256, 13, 28, 14);
    row("pngEffort", "toolBar", 286, 10, 81, 21);
    row("webpLossless", "toolBar", 376, 10, 100, 20);
    row("templatePanel", "mainWindow", 8, 64, 153, 249);
    row("templateName", "templatePanel", 8, 16, 45, 23);
    row("templateFrame", "templatePanel", 8, 56, 137, 185);
    row("templatePreview", "templatePanel", 16, 104, 120, 90);
    row("apply", "templatePanel", 40, 208, 99, 25);
    row("templateArrows", "mainWindow", 8, 320, 153, 33);
    row("preview", "mainWindow", 168, 56, 297, 297);
    row("outputPanel", "mainWindow", 168, 360, 297, 57);
    row("widthLabel", "outputPanel", 8, 16, 37, 14);
    row("outputWidth", "outputPanel", 48, 16, 49, 21);
    row("heightLabel", "outputPanel", 104, 16, 40, 14);
    row("outputHeight", "outputPanel", 144, 16, 49, 21);
    row("dpiLabel", "outputPanel", 208, 16, 21, 13);
    row("outputDpi", "outputPanel", 232, 16, 49, 21);
    row("sourcePanel", "mainWindow", 472, 64, 153, 249);
    row("sourceName", "sourcePanel", 8, 16, 120, 23);
    row("sourceClearPicture", "sourcePanel", 80, 16, 33, 33);
    row("sourceFrame", "sourcePanel", 8, 56, 137, 129);
    row("sourcePicture", "sourcePanel", 16, 64, 121, 113);
    row("sourceColour", "sourcePanel", 48, 192, 57, 49);
    row("sourceArrows", "mainWindow", 472, 320, 153, 33);
    row("transparentBackground", "mainWindow", 480, 360, 138, 20);
    row("largeDiscArea", "mainWindow", 480, 384, 93, 20);
    row("flipWhenSaved", "mainWindow", 480, 408, 97, 20);
    row("effectPages", "mainWindow", 0, 416, 633, 105);
    row("showReflections", "reflectionPage", 8, 8, 46, 20);
    row("fadeReflections", "reflectionPage", 8, 40, 44, 20);
    row("opacityLabel", "reflectionPage", 112, 8, 37, 13);
    row("reflectionOpacity", "reflectionPage", 160, 4, 150, 25);
    row("lengthLabel", "reflectionPage", 112, 40, 33, 13);
    row("reflectionLength", "reflectionPage", 160, 35, 150, 25);
    row("brightnessLabel", "reflectionPage", 360, 8, 50, 13);
    row("reflectionBrightness", "reflectionPage", 424, 5, 150, 25);
    row("reflectionBlurLabel", "reflectionPage", 339, 40, 71, 13);
    row("reflectionBlur", "reflectionPage", 424, 35, 150, 25);
    row("showShadows", "shadowPage", 8, 32, 54, 19);
    row("densityLabel", "shadowPage", 238, 8, 36, 13);
    row("shadowDensity", "shadowPage", 280, 4, 150, 28);
    row("shadowColour", "shadowPage", 466, 0, 41, 33);
    row("shadowBlurLabel", "shadowPage", 214, 53, 58, 13);
    row("shadowBlur", "shadowPage", 280, 49, 150, 25);
    row("shadingLabel", "objectPage", 40, 8, 38, 13);
    row("shadingStrength", "objectPage", 104, 8, 150, 25);
    row("shadingColour", "objectPage", 290, 0, 41, 33);
    row("highlightLabel", "objectPage", 40, 48, 46, 13);
    row("highlightStrength", "objectPage", 104, 48, 150, 25);
    row("highlightColour", "objectPage", 290, 36, 41, 33);
    row("resamplerList", "mainWindow", 0, 360, 145, 21);
    row("kernelList", "mainWindow", 0, 384, 145, 21);
  }

  void controls() {
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    auto* widget = fUnderTest.Window->findChild<QWidget*>(name);
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
    MainWindow& w = *fUnderTest.Window;
    QCOMPARE(Ui(w).savePicture->text(), QStringLiteral("Save picture"));
    QCOMPARE(Ui(w).about->text(), QStringLiteral("About..."));
    QCOMPARE(Ui(w).savePicture->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QVERIFY(!Ui(w).savePicture->icon().isNull() && !Ui(w).about->icon().isNull());
    QCOMPARE(Ui(w).templatePanel->Caption(), QStringLiteral("TOP"));
    QCOMPARE(Ui(w).sourcePanel->Caption(), QStringLiteral("Click to load image"));
    QCOMPARE(Ui(w).apply->text(), QStringLiteral("APPLY >>"));
    QCOMPARE(Ui(w).widthLabel->text(), QStringLiteral("Width:"));
    QCOMPARE(Ui(w).heightLabel->text(), QStringLiteral("Height:"));
    QCOMPARE(Ui(w).dpiLabel->text(), QStringLiteral("DPI:"));
    QCOMPARE(Ui(w).reflectionBlurLabel->text(), QStringLiteral("Blur reflections"));
    QCOMPARE(Ui(w).shadowBlurLabel->text(), QStringLiteral("Blur shadow"));
    QCOMPARE(Ui(w).transparentBackground->text(), QStringLiteral("Transparent background"));
    QCOMPARE(Ui(w).largeDiscArea->text(), QStringLiteral("Large disc area"));
    QCOMPARE(Ui(w).flipWhenSaved->text(), QStringLiteral("Flip when saved"));

    QCOMPARE(w.font().pixelSize(), 11);
    QCOMPARE(Ui(w).widthLabel->font().pixelSize(), 12);
    QCOMPARE(Ui(w).opacityLabel->font().pixelSize(), 11);
    // A long template name takes a smaller size, down to the window's text, to be seen whole.
    QVERIFY(Ui(w).templateName->font().pixelSize() <= 19);
    QVERIFY(Ui(w).templateName->font().pixelSize() >= 11);
    QCOMPARE(Ui(w).sourceName->font().pixelSize(), 19);
    QCOMPARE(Ui(w).templatePanel->font().pixelSize(), 19);
    QCOMPARE(Ui(w).sourcePanel->font().pixelSize(), 15);

    struct Spin { TSpinEdit* edit; int min, max, value; };
    for (const Spin& s : {Spin{Ui(w).outputWidth, 32, 8192, 800}, Spin{Ui(w).outputHeight, 32, 8192, 600},
                          Spin{Ui(w).outputDpi, 60, 600, 96}}) {
      QCOMPARE(s.edit->minimum(), s.min);
      QCOMPARE(s.edit->maximum(), s.max);
      QCOMPARE(s.edit->Value(), s.value);
      QCOMPARE(s.edit->Text(), QString::number(s.value));
    }
    struct Bar { TTrackBar* bar; int min, max, value; };
    for (const Bar& b : {Bar{Ui(w).reflectionOpacity, 0, 255, 255}, Bar{Ui(w).reflectionLength, 1, 100, 50},
                         Bar{Ui(w).reflectionBrightness, -50, 50, 0}, Bar{Ui(w).reflectionBlur, 0, 100, 15},
                         Bar{Ui(w).shadowDensity, 0, 255, 255}, Bar{Ui(w).shadowBlur, 0, 100, 25},
                         Bar{Ui(w).shadingStrength, 0, 255, 255}, Bar{Ui(w).highlightStrength, 0, 255, 255}}) {
      QCOMPARE(b.bar->minimum(), b.min);
      QCOMPARE(b.bar->maximum(), b.max);
      QCOMPARE(b.bar->value(), b.value);
      QCOMPARE(b.bar->tickPosition(), QSlider::NoTicks);
      QCOMPARE(b.bar->orientation(), Qt::Horizontal);
    }
    QCOMPARE(Ui(w).templateArrows->Min(), 1);
    QCOMPARE(Ui(w).templateArrows->Max(), static_cast<int>(fUnderTest.Data->Templates().size()));
    QCOMPARE(Ui(w).templateArrows->Position(), 1);
    QCOMPARE(Ui(w).sourceArrows->Min(), 1);
    QCOMPARE(Ui(w).sourceArrows->Max(), 9);
    QCOMPARE(Ui(w).sourceArrows->Position(), 1);

    QVERIFY(Ui(w).showReflections->isChecked());
    QVERIFY(Ui(w).fadeReflections->isChecked());
    QVERIFY(Ui(w).showShadows->isChecked());
    QVERIFY(!Ui(w).transparentBackground->isChecked());
    QVERIFY(!Ui(w).largeDiscArea->isChecked());
    QVERIFY(!Ui(w).flipWhenSaved->isChecked());
    QCOMPARE(Ui(w).shadowColour->Color(), raster::TColor(0x000000));
    QCOMPARE(Ui(w).shadingColour->Color(), raster::TColor(0x000000));
    QCOMPARE(Ui(w).highlightColour->Color(), raster::TColor(0xFFFFFF));
    QCOMPARE(Ui(w).sourceColour->iconSize(), QSize(40, 40));
    QCOMPARE(Ui(w).shadowColour->iconSize(), QSize(25, 25));
  }

  void theDesignedLayoutIsTheSmallestAndThePreviewTakesTheRest() {
    // The designed window with the status bar under it.
    QCOMPARE(fUnderTest.Window->minimumSize(), QSize(633, 543));
    QCOMPARE(fUnderTest.Window->size(), QSize(633, 543));
    QCOMPARE(fUnderTest.Window->findChild<QWidget*>(QStringLiteral("statusBar"))->geometry(), QRect(0, 523, 633, 20));
    const Qt::WindowFlags flags = fUnderTest.Window->windowFlags();
    QVERIFY(flags & Qt::WindowMaximizeButtonHint);
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    ShowWindow(*fUnderTest.Window);
    fUnderTest.Window->resize(633 + 200, 543 + 100);
    QTRY_COMPARE(fUnderTest.Window->size(), QSize(833, 643));
    const TControls ui = Ui(*fUnderTest.Window);
    QCOMPARE(ui.preview->geometry(), QRect(168, 56, 297 + 200, 297 + 100));
    QCOMPARE(ui.templatePanel->geometry(), QRect(8, 64, 153, 249));
    QCOMPARE(ui.sourcePanel->geometry(), QRect(472 + 200, 64, 153, 249));
    QCOMPARE(ui.sourceArrows->pos(), QPoint(472 + 200, 320));
    QCOMPARE(ui.outputWidth->parentWidget()->pos(), QPoint(168, 360 + 100));
    QCOMPARE(ui.transparentBackground->pos(), QPoint(480 + 200, 360 + 100));
    QCOMPARE(ui.flipWhenSaved->pos(), QPoint(480 + 200, 408 + 100));
    QCOMPARE(ui.effectPages->geometry(), QRect(0, 416 + 100, 833, 105));
    // The preview's view draws over the whole larger widget.
    const raster::TRect viewport = fUnderTest.Window->View().ViewportRect();
    QCOMPARE(viewport.Right - viewport.Left, 497);
    QCOMPARE(viewport.Bottom - viewport.Top, 397);
    // Zoom from the preview's menu: 100 % shows the 800 x 600 picture pixel for pixel, fit shrinks
    // it into the preview (497 x 373 keeps its 4 : 3).
    fUnderTest.Window->findChild<QPushButton*>(QStringLiteral("apply"))->click();
    Settle(*fUnderTest.Window);
    auto* actual = ui.preview->findChild<QAction*>(QStringLiteral("zoomActualAction"));
    auto* fit = ui.preview->findChild<QAction*>(QStringLiteral("zoomFitAction"));
    QVERIFY(ui.preview->actions().contains(actual) && ui.preview->actions().contains(fit));
    QVERIFY(fit->isChecked());
    QCOMPARE(fUnderTest.Window->View().PictureSize().X, 497);
    QCOMPARE(fUnderTest.Window->View().PictureSize().Y, 373);
    actual->trigger();
    QVERIFY(!fit->isChecked());
    QCOMPARE(fUnderTest.Window->View().PictureSize().X, 800);
    QCOMPARE(fUnderTest.Window->View().PictureSize().Y, 600);
    fit->trigger();
    QCOMPARE(fUnderTest.Window->View().PictureSize().X, 497);
    fUnderTest.Window->resize(633, 543);
    QTRY_COMPARE(ui.preview->geometry(), QRect(168, 56, 297, 297));
    QCOMPARE(ui.sourcePanel->geometry(), QRect(472, 64, 153, 249));
    QVERIFY(flags & Qt::WindowSystemMenuHint);
    QCOMPARE(fUnderTest.Window->pos(), QPoint(312, 222));
    ShowWindow(*fUnderTest.Window);
    fUnderTest.Window->showMinimized();
    QTRY_VERIFY(fUnderTest.Window->isMinimized());
  }

  void startState() {
    MainWindow& w = *fUnderTest.Window;
    QVERIFY2(fUnderTest.Services.Errors.isEmpty(), qPrintable(fUnderTest.Services.Errors.join(QLatin1Char('\n'))));
    QCOMPARE(w.windowTitle(), QStringLiteral("maker"));
    QCOMPARE(Ui(w).sourceName->text(), QStringLiteral("BACKGROUND"));
    QCOMPARE(Ui(w).sourceColour->Color(), raster::TColor(0xFFFFFF));
    QVERIFY(Ui(w).sourcePicture->Empty());
    QVERIFY(Ui(w).sourcePicture->pixmap().isNull());
    QVERIFY(Ui(w).sourceClearPicture->Empty());
    QCOMPARE(Ui(w).effectPages->count(), 4);
    QCOMPARE(Ui(w).effectPages->tabText(0), QStringLiteral("Reflection"));
    QCOMPARE(Ui(w).effectPages->tabText(1), QStringLiteral("Shadow"));
    QCOMPARE(Ui(w).effectPages->tabText(2), QStringLiteral("Object"));
    QCOMPARE(Ui(w).effectPages->tabText(3), QStringLiteral("Product"));
    QCOMPARE(Ui(w).effectPages->currentIndex(), 0);

    const std::vector<std::string> templates = fUnderTest.Data->Templates();
    QVERIFY(!templates.empty());
    const std::string first = templates.front();
    QCOMPARE(Ui(w).templateName->text(), QString::fromStdString(first.substr(0, first.size() - 4)));
    QVERIFY(!Ui(w).templatePreview->Empty());
    QCOMPARE(fUnderTest.Window->State().Template, 1);

    // No render yet: the canvas has the preview's size and is empty, there are no layers.
    QCOMPARE(w.RenderCount(), 0);
    QCOMPARE(fUnderTest.Services.BusyPushes, 0);
    QVERIFY(w.LayerKinds().empty());
    QCOMPARE(w.View().Layers().Count(), 0);
    const raster::TBitmap32& canvas = w.View().Bitmap();
    QCOMPARE(canvas.Width(), 297);
    QCOMPARE(canvas.Height(), 297);
    for (int y = 0; y < canvas.Height(); ++y)
      for (int x = 0; x < canvas.Width(); ++x) QCOMPARE(canvas.ScanLine(y)[x], raster::TColor32(0));
  }

  void previewShowsCheckerboardAndFrame() {
    ShowWindow(*fUnderTest.Window);
    const QImage shot = Ui(*fUnderTest.Window).preview->grab().toImage();
    QCOMPARE(shot.size() / shot.devicePixelRatio(), QSize(297, 297));
    // Black outline, then 8-pixel squares: grey (176, 176, 176) at the top left, white next to it.
    QCOMPARE(QColor(shot.pixel(0, 0)), QColor(0, 0, 0));
    QCOMPARE(QColor(shot.pixel(296, 150)), QColor(0, 0, 0));
    QCOMPARE(QColor(shot.pixel(3, 3)), QColor(176, 176, 176));
    QCOMPARE(QColor(shot.pixel(11, 3)), QColor(255, 255, 255));
    QCOMPARE(QColor(shot.pixel(11, 11)), QColor(176, 176, 176));
  }

  void hiddenListsHoldTheRegisteredClasses() {
    MainWindow& w = *fUnderTest.Window;
    QVERIFY(Ui(w).resamplerList->isHidden());
    QVERIFY(Ui(w).kernelList->isHidden());
    std::vector<std::string> resamplers, kernels;
    raster::GetResamplerClassNames(resamplers);
    raster::GetKernelClassNames(kernels);
    QCOMPARE(Ui(w).resamplerList->count(), static_cast<int>(resamplers.size()));
    QCOMPARE(Ui(w).kernelList->count(), static_cast<int>(kernels.size()));
    for (std::size_t i = 0; i < resamplers.size(); ++i)
      QCOMPARE(Ui(w).resamplerList->itemText(static_cast<int>(i)).toStdString(), resamplers[i]);
    QCOMPARE(Ui(w).resamplerList->currentIndex(), 1);
    QCOMPARE(Ui(w).resamplerList->currentText(), QStringLiteral("TLinearResampler"));
    QCOMPARE(Ui(w).kernelList->currentIndex(), 0);
  }

  void keyboardOrder() {
    MainWindow& w = *fUnderTest.Window;
    ShowWindow(w);
    Ui(w).preview->setFocus(Qt::OtherFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(Ui(w).preview));
    // Every control of the window and of the page shown; the slot's clear button only while the
    // slot has a picture.
    const QStringList named = {"preview", "sourcePicture", "sourceColour", "sourceArrows", "outputWidth",
                               "outputHeight", "outputDpi", "transparentBackground", "apply", "templateArrows",
                               "effectPages", "showReflections", "fadeReflections", "reflectionOpacity",
                               "reflectionLength", "reflectionBrightness", "reflectionBlur", "largeDiscArea",
                               "flipWhenSaved", "savePicture", "openScene", "saveScene", "about", "saveQuality",
                               "pngEffort", "webpLossless"};
    const QStringList never = {"sourceClear", "resamplerList", "kernelList"};
    QStringList seen{QStringLiteral("preview")};
    for (int i = 0; i < 80; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QWidget* f = QApplication::focusWidget();
      // A compound control (the page control's tab bar, a field's editor) counts as its owner.
      while (f != nullptr && !named.contains(f->objectName()) && !never.contains(f->objectName())) f = f->parentWidget();
      if (f == nullptr) continue;
      QVERIFY2(!never.contains(f->objectName()), qPrintable(f->objectName()));
      if (f->objectName() == QStringLiteral("preview")) break;
      if (seen.last() != f->objectName()) seen << f->objectName();
    }
    QCOMPARE(seen, named);
  }

  void everyBarShowsItsValueBesideIt() {
    MainWindow& w = *fUnderTest.Window;
    ShowWindow(w);
    // The effect pages' bars (the Product page shows its angles its own way).
    const TControls ui = Ui(w);
    for (TTrackBar* bar : {ui.reflectionOpacity, ui.reflectionLength, ui.reflectionBrightness, ui.reflectionBlur,
                           ui.shadowDensity, ui.shadowBlur, ui.shadingStrength, ui.highlightStrength}) {
      auto* value = w.findChild<QLabel*>(bar->objectName() + QStringLiteral("Value"));
      QVERIFY2(value != nullptr, qPrintable(bar->objectName()));
      QCOMPARE(value->parentWidget(), bar->parentWidget());
      // To the right of the bar, level with it, clear of every other control of its page.
      QCOMPARE(value->x(), bar->geometry().right() + 3);
      QVERIFY(value->geometry().top() >= bar->geometry().top() && value->geometry().bottom() <= bar->geometry().bottom());
      for (QWidget* other : bar->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (other != value && other->isVisible() && qobject_cast<QLabel*>(other) == nullptr)
          QVERIFY2(!other->geometry().intersects(value->geometry()), qPrintable(other->objectName()));
      QCOMPARE(value->text(), QString::number(bar->value()));
      bar->setValue(bar->minimum());  // keys, wheel and drags all change the value
      QCOMPARE(value->text(), QString::number(bar->minimum()));
    }
    // The colour buttons lie wholly inside their pages.
    for (TColorSelect* colour : {Ui(w).shadowColour, Ui(w).shadingColour, Ui(w).highlightColour}) {
      Ui(w).effectPages->setCurrentWidget(colour->parentWidget());
      QVERIFY2(colour->parentWidget()->rect().contains(colour->geometry()), qPrintable(colour->objectName()));
    }
  }

  void numbersAboveTheRangeAreCorrectedAsTyped_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("width 9000") << "outputWidth" << "9000" << "8192";
    QTest::newRow("height 99999") << "outputHeight" << "99999" << "8192";
    QTest::newRow("width 8192 stays") << "outputWidth" << "8192" << "8192";
    QTest::newRow("dpi 601") << "outputDpi" << "601" << "600";
    QTest::newRow("quality 100 stays") << "saveQuality" << "100" << "100";
    QTest::newRow("quality 250") << "saveQuality" << "250" << "100";
    // Below the minimum it may be the start of a longer number: kept while typing.
    QTest::newRow("width 5 while typing") << "outputWidth" << "5" << "5";
  }
  void numbersAboveTheRangeAreCorrectedAsTyped() {
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    ShowWindow(*fUnderTest.Window);
    auto* edit = fUnderTest.Window->findChild<TSpinEdit*>(field);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->Text(), shown);
    QCOMPARE(edit->Value(), std::min(shown.toInt(), edit->maximum()));
  }

  void flipCheckBoxLiesOverTheTabStripAndIsClickable() {
    MainWindow& w = *fUnderTest.Window;
    ShowWindow(w);
    const QRect flip = Ui(w).flipWhenSaved->geometry();
    const QRect strip(Ui(w).effectPages->mapTo(&w, Ui(w).effectPages->tabBar()->geometry().topLeft()),
                      Ui(w).effectPages->tabBar()->size());
    QVERIFY(QRect(0, strip.top(), 633, strip.height()).intersects(flip));
    QVERIFY(flip.left() > strip.right());
    const QPoint inside(flip.left() + 8, 420);
    QCOMPARE(w.childAt(inside), static_cast<QWidget*>(Ui(w).flipWhenSaved));
    QTest::mouseClick(Ui(w).flipWhenSaved, Qt::LeftButton, {}, Ui(w).flipWhenSaved->mapFrom(&w, inside));
    QVERIFY(Ui(w).flipWhenSaved->isChecked());
    QCOMPARE(w.RenderCount(), 0);
  }
};

QUIRLON_APP_TEST(AppLayoutTest);

}  // namespace quirlon::app::test

#include "LayoutTest.moc"
