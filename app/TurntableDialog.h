#pragma once
// "Turntable...": the product of the Product page turning once round, played in a small preview,
// and saved at the window's output size as animated WebP, APNG or GIF. The preview's frames are
// rendered on a thread of their own and shown as they arrive, so the dialog answers at once.
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/Job.h"

namespace quirlon::app {

// The preview's largest size; the output size's proportions are kept.
inline constexpr int kTurntablePreviewWidth = 400, kTurntablePreviewHeight = 300;

class TurntableDialog : public QDialog {
  Q_OBJECT
public:
  // Job: the product, its sources and settings and the output size as the window renders them.
  explicit TurntableDialog(core::TJob Job, QWidget* Parent = nullptr);
  ~TurntableDialog() override;

  // The preview's frames received so far, in order.
  const std::vector<QImage>& Frames() const { return fFrames; }
  // Keeps the event loop running until every preview frame has arrived or the preview failed.
  bool WaitForPreview(int TimeoutMs = 120000);
  // The job the preview renders (its size scaled down to the preview's).
  const core::TJob& PreviewJob() const { return fPreviewJob; }
  // Writes the turn at the output size to File, whose extension names the format; throws what
  // the render and the writers throw.
  void Save(const std::string& File);
  QString Status() const { return fStatus->text(); }

signals:
  void PreviewFinished();

private:
  void StartPreview();
  void StopPreview();
  void ShowNextFrame();
  void AskAndSave();

  core::TJob fJob, fPreviewJob;
  std::vector<QImage> fFrames;
  std::thread fWorker;
  std::atomic<bool> fCancel{false};
  bool fPreviewDone = false;
  int fShown = 0;

  QLabel* fPicture;
  QSpinBox* fFrameCount;
  QPushButton* fSave;
  QLabel* fStatus;
  QTimer* fTimer;
};

}  // namespace quirlon::app
