#pragma once
// The "Product" page of the window: a product built from its dimensions instead of a template.
// The page only shows and edits values; the window keeps them (TWindowState::Product), renders
// them and puts the old values back when a render refuses them. Sizes are kept in millimetres
// whatever unit the fields show, so switching the unit back and forth changes nothing.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QWidget>

#include "app/Controls.h"
#include "core/Job.h"
#include "core/ProductJob.h"

namespace quirlon::app {

// The first entry of the kind list: no product, the chosen template renders.
inline constexpr const char* kNoProductEntry = "Template";

class ProductPage : public QWidget {
  Q_OBJECT
public:
  explicit ProductPage(QWidget* Parent = nullptr);

  // Shows Job (millimetres, degrees; Kind "" for none) in the controls without raising Changed.
  void Show(const core::TProductJob& Job);
  // The job the controls describe, on top of Base: Base's wrap and bleed stay while the kind does,
  // everything else comes from the controls. With no kind it is an empty job.
  core::TProductJob Job(const core::TProductJob& Base) const;
  // A line under the buttons: what the last change did, or why it was refused.
  void SetStatus(const QString& Text);
  QString Status() const;
  // What "Turntable..." turns: the page's product with the window's sources, settings and output
  // size (the last render's).
  core::TJob TurntableJob() const;
  // Opens the turntable dialog over the page's product; nullptr (and a status line) without one.
  class TurntableDialog* OpenTurntable();

signals:
  // A value the render depends on changed (sliders: when the mouse lets go).
  void Changed();
  void SplitWrapClicked();
  void SaveTemplateClicked();

private:
  void BuildControls();
  void KindChosen();
  void UnitChosen();
  // A size field edited by the user: its value is stored in millimetres.
  void SizeEdited(QDoubleSpinBox* Field, double& Millimetres);
  // Fields shown in the chosen unit, enabled as the kind and the page count need.
  void ShowSizes();
  // The sliders' ranges for the current kind and size.
  void UpdateAngleRanges();
  void ShowAngleValues();
  // nullptr for "Template".
  const core::TProductKind* CurrentKind() const;
  bool Inches() const;

  double fWidth = 0, fHeight = 0, fDepth = 0;  // millimetres

  // Controls; each widget's objectName is its field name without the "f".
  QComboBox* fProductKind;
  QDoubleSpinBox* fProductWidth;
  QDoubleSpinBox* fProductHeight;
  QDoubleSpinBox* fProductDepth;
  QComboBox* fProductUnit;
  QSpinBox* fProductPages;
  QComboBox* fProductPaper;
  TTrackBar* fProductYaw;
  QLabel* fProductYawValue;
  TTrackBar* fProductPitch;
  QLabel* fProductPitchValue;
  QCheckBox* fFitToArtwork;
  QPushButton* fSplitWrap;
  QPushButton* fSaveTemplate;
  QPushButton* fTurntable;
  QLabel* fProductStatus;
};

// Whether Kind is a book: its pages show at the edges, and its spine follows its page count.
bool IsBook(const core::TProductKind& Kind);

}  // namespace quirlon::app
