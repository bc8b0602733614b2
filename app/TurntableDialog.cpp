#include "app/TurntableDialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

#include "core/Turntable.h"

namespace quirlon::app {

namespace {

// Thrown into the frame loop to stop a preview that is no longer wanted.
struct TPreviewCancelled {};

QImage ToImage(const raster::TBitmap32& Frame) {
  QImage image(Frame.Width(), Frame.Height(), QImage::Format_ARGB32);
  for (int y = 0; y < Frame.Height(); ++y)
    std::memcpy(image.scanLine(y), Frame.ScanLine(y), static_cast<std::size_t>(Frame.Width()) * 4);
  return image;
}

}  // namespace

TurntableDialog::TurntableDialog(core::TJob Job, QWidget* Parent) : QDialog(Parent), fJob(std::move(Job)) {
  setWindowTitle(QStringLiteral("Turntable"));
  setObjectName(QStringLiteral("turntableDialog"));
  fPicture = new QLabel(this);
  fPicture->setObjectName(QStringLiteral("turntablePicture"));
  fPicture->setFixedSize(kTurntablePreviewWidth, kTurntablePreviewHeight);
  fPicture->setAlignment(Qt::AlignCenter);
  fFrameCount = new QSpinBox(this);
  fFrameCount->setObjectName(QStringLiteral("turntableFrames"));
  fFrameCount->setRange(2, 360);
  fFrameCount->setValue(36);
  fFrameCount->setSuffix(QStringLiteral(" frames"));
  fFrameCount->setKeyboardTracking(false);
  fFrameCount->setToolTip(QStringLiteral("Frames in one turn, shown at 24 a second"));
  fSave = new QPushButton(QStringLiteral("Save") + QChar(0x2026), this);
  fSave->setObjectName(QStringLiteral("turntableSave"));
  fSave->setToolTip(QStringLiteral("Save the turn at the output size as animated WebP, APNG or GIF"));
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  fStatus = new QLabel(this);
  fStatus->setObjectName(QStringLiteral("turntableStatus"));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(fFrameCount);
  buttons->addStretch();
  buttons->addWidget(fSave);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(fPicture);
  layout->addWidget(fStatus);
  layout->addLayout(buttons);

  fTimer = new QTimer(this);
  connect(fTimer, &QTimer::timeout, this, [this] { ShowNextFrame(); });
  connect(fFrameCount, &QSpinBox::valueChanged, this, [this] { StartPreview(); });
  connect(fSave, &QPushButton::clicked, this, [this] { AskAndSave(); });
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  StartPreview();
}

TurntableDialog::~TurntableDialog() { StopPreview(); }

void TurntableDialog::StopPreview() {
  fCancel = true;
  if (fWorker.joinable()) fWorker.join();
  fCancel = false;
}

void TurntableDialog::StartPreview() {
  StopPreview();
  fTimer->stop();
  fFrames.clear();
  fShown = 0;
  fPreviewDone = false;
  fPreviewJob = fJob;
  fPreviewJob.Turntable.Frames = fFrameCount->value();
  const double scale = std::min({1.0, double(kTurntablePreviewWidth) / std::max(fJob.Request.Width, 1),
                                 double(kTurntablePreviewHeight) / std::max(fJob.Request.Height, 1)});
  fPreviewJob.Request.Width = std::max(32, int(fJob.Request.Width * scale + 0.5));
  fPreviewJob.Request.Height = std::max(32, int(fJob.Request.Height * scale + 0.5));
  fStatus->setText(QStringLiteral("Rendering %1 frames").arg(fPreviewJob.Turntable.Frames));
  fTimer->start(1000 / std::max(fJob.Turntable.Fps, 1));
  const core::TJob job = fPreviewJob;
  fWorker = std::thread([this, job] {
    QString failure;
    try {
      imagefiles::TPictureCache pictures;
      const core::TTurntablePlan plan = core::PlanTurntable(job, {}, pictures);
      core::RunTurntable<QImage>(
          plan, 2, [](std::unique_ptr<raster::TBitmap32> frame, std::int32_t) { return ToImage(*frame); },
          [this](std::int32_t, QImage&& image) {
            if (fCancel) throw TPreviewCancelled();
            QMetaObject::invokeMethod(this, [this, image] { fFrames.push_back(image); }, Qt::QueuedConnection);
          });
    } catch (const TPreviewCancelled&) {
      return;
    } catch (const std::exception& e) {
      failure = QString::fromStdString(e.what());
    }
    QMetaObject::invokeMethod(
        this,
        [this, failure] {
          fPreviewDone = true;
          fStatus->setText(failure.isEmpty() ? QStringLiteral("%1 frames").arg(fFrames.size()) : failure);
          emit PreviewFinished();
        },
        Qt::QueuedConnection);
  });
}

void TurntableDialog::ShowNextFrame() {
  if (fFrames.empty()) return;
  if (fShown >= static_cast<int>(fFrames.size())) fShown = 0;
  fPicture->setPixmap(QPixmap::fromImage(fFrames[static_cast<std::size_t>(fShown++)]));
}

bool TurntableDialog::WaitForPreview(int TimeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!fPreviewDone && clock.elapsed() < TimeoutMs) QApplication::processEvents(QEventLoop::AllEvents, 20);
  return fPreviewDone;
}

void TurntableDialog::Save(const std::string& File) {
  core::TJob job = fJob;
  job.Turntable.Frames = fFrameCount->value();
  job.Output.File = File;
  core::TJobResources resources;
  core::RenderTurntableJob(job, {}, resources);
}

void TurntableDialog::AskAndSave() {
  QString chosen;
  const QString file = QFileDialog::getSaveFileName(
      this, QStringLiteral("Save turntable"), QString(),
      QStringLiteral("Animated WebP (*.webp);;Animated PNG (*.png);;GIF (*.gif)"), &chosen);
  if (file.isEmpty()) return;
  std::string name = file.toStdString();
  if (!imagefiles::AnimationFormatOf(name))
    name += chosen.startsWith(QStringLiteral("GIF")) ? ".gif" : chosen.contains(QStringLiteral("PNG")) ? ".png" : ".webp";
  QApplication::setOverrideCursor(Qt::WaitCursor);
  try {
    Save(name);
    fStatus->setText(QStringLiteral("Saved %1").arg(QString::fromStdString(name)));
  } catch (const std::exception& e) {
    fStatus->setText(QString::fromStdString(e.what()));
  }
  QApplication::restoreOverrideCursor();
}

}  // namespace quirlon::app
