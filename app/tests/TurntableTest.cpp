// "Turntable..." on the Product page: the dialog previews the page's product turning with the
// window's pictures, frame by frame as core renders the same turn, and saves it in the format its
// name asks for.
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <fstream>
#include <iterator>

#include "AppTestSupport.h"
#include "app/ProductPage.h"
#include "app/TurntableDialog.h"
#include "core/Turntable.h"

namespace quirlon::app::test {

namespace {

std::string FileStart(const QString& File, std::size_t Bytes) {
  std::ifstream in(File.toStdString(), std::ios::binary);
  std::string start(Bytes, '\0');
  in.read(start.data(), static_cast<std::streamsize>(Bytes));
  return start.substr(0, static_cast<std::size_t>(in.gcount()));
}

}  // namespace

class AppTurntableTest : public QObject {
  Q_OBJECT
  std::unique_ptr<TDataFolder> fData;
  TTestServices fServices;
  std::unique_ptr<MainWindow> fWindow;

  ProductPage& Page() { return *fWindow->findChild<ProductPage*>(); }

private slots:
  void init() {
    fServices = TTestServices();
    fData = std::make_unique<TDataFolder>();
    fData->KeepTemplates(2);
    fWindow = MakeWindow(fServices, *fData);
    SetOutputSize(*fWindow, 240, 180);
    Settle(*fWindow);
  }
  void cleanup() {
    fWindow.reset();
    fData.reset();
  }

  void withoutAProductKindThePageSaysWhatToChoose() {
    QCOMPARE(Page().OpenTurntable(), nullptr);
    QVERIFY(Page().Status().contains(QStringLiteral("product kind")));
  }

  void thePreviewPlaysTheTurnCoreRendersAndSavesEachFormat() {
    auto* kind = fWindow->findChild<QComboBox*>(QStringLiteral("productKind"));
    kind->setCurrentIndex(kind->findText(QStringLiteral("paperback")));
    Settle(*fWindow);
    std::unique_ptr<TurntableDialog> dialog(Page().OpenTurntable());
    QVERIFY(dialog != nullptr);
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    dialog->findChild<QSpinBox*>(QStringLiteral("turntableFrames"))->setValue(8);
    QVERIFY(dialog->WaitForPreview());
    QCOMPARE(static_cast<int>(dialog->Frames().size()), 8);
    QCOMPARE(dialog->Status(), QStringLiteral("8 frames"));
    // The output size's proportions at the preview's size.
    QCOMPARE(dialog->Frames()[0].size(), QSize(240, 180));
    QCOMPARE(dialog->PreviewJob().Product.Kind, std::string("paperback"));

    // Frame 3 as core renders it for the same job, without the dialog.
    imagefiles::TPictureCache pictures;
    const core::TTurntablePlan plan = core::PlanTurntable(dialog->PreviewJob(), {}, pictures);
    const std::unique_ptr<raster::TBitmap32> frame = core::RenderTurntableFrame(plan, 3);
    const QImage& shown = dialog->Frames()[3];
    bool same = shown.width() == frame->Width() && shown.height() == frame->Height();
    for (int y = 0; same && y < frame->Height(); ++y)
      same = std::memcmp(shown.constScanLine(y), frame->ScanLine(y), std::size_t(frame->Width()) * 4) == 0;
    QVERIFY(same);

    QTemporaryDir out;
    const struct {
      const char* Name;
      std::string Start;
    } saves[] = {{"turn.webp", "RIFF"}, {"turn.png", "\x89PNG"}, {"turn.gif", "GIF89a"}};
    for (const auto& save : saves) {
      const QString file = out.filePath(QString::fromLatin1(save.Name));
      dialog->Save(file.toStdString());
      QCOMPARE(FileStart(file, save.Start.size()), save.Start);
    }
    QVERIFY_THROWS_EXCEPTION(std::exception, dialog->Save(out.filePath(QStringLiteral("turn.jpg")).toStdString()));
  }
};

QUIRLON_APP_TEST(AppTurntableTest);

}  // namespace quirlon::app::test

#include "TurntableTest.moc"
