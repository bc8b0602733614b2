#pragma once
// The main window: template chooser, preview, source panel, output size and the effect pages.
// Every handler stores its value in the settings record and then re-renders the whole picture,
// switches layers on or off, or does nothing more. Errors raised inside a handler end it and are
// shown by the standard error report; the window stays usable.
#include <cstdint>
#include <functional>
#include <string>

#include <QCheckBox>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>

#include "app/Controls.h"
#include "app/Platform.h"
#include "app/Skin.h"
#include "core/Effects.h"
#include "core/Render.h"
#include "core/RenderSettings.h"

namespace quirlon::app {

class TForm2;

// Where the window finds its data and what it is called: the folder beside the executable and
// the executable's path, unless a caller (a test) names others.
struct TAppPaths {
  std::string DataFolder;          // ends in a separator; "Templates/", "Pics/", ... are appended
  std::string ExecutableFileName;  // the window is titled after it

  static TAppPaths BesideExecutable();
};

// The names the source panel shows for slots 1..9 ("FRONT 2" with a space, unlike the template
// source names); "" for any other slot.
QString SlotCaption(std::int32_t Slot);

// The program's icon: a box standing on its reflection.
QIcon ApplicationIcon();

// The save dialog's filter list and default extension.
inline constexpr const char* kSaveFilter =
    "JPEG Image File (*.jpg)|*.jpg|PNG Image File (*.png)|*.png|Bitmaps (*.bmp)|*.bmp";
inline constexpr const char* kSaveDefaultExt = ".bmp";

// "Data/SkinName.dat" without a line.
inline constexpr const char* kEmptySkinFile = "Skin file \"%s\" is empty: its first line must name the skin";

class TForm1 : public QWidget {
  Q_OBJECT
public:
  // Builds the layout and runs FormCreate.
  TForm1(TWindowServices& Services, TAppPaths Paths, QWidget* Parent = nullptr);
  ~TForm1() override;  // FormDestroy

  void SetAboutBox(TForm2* AboutBox) { fAboutBox = AboutBox; }

  // Controls, named as their objectName.
  QToolBar* sToolBar1;
  QToolButton* SaveButton;
  QToolButton* AboutToolButton;
  TCaptionPanel* TemplatePanel;
  TAutoSizeLabel* TemplateCaption;
  QFrame* TemplateBevel;
  TPictureBox* TemplateImage;
  QPushButton* ApplyTempButton;
  TUpDown* TemplateUpDown;
  TPreviewWidget* ImgView;
  QFrame* sPanel2;
  TAutoSizeLabel* sLabel1;
  TSpinEdit* WidthSpinEdit;
  TAutoSizeLabel* sLabel2;
  TSpinEdit* HeightSpinEdit;
  TAutoSizeLabel* sLabel11;
  TSpinEdit* DpiSpinEdit;
  TCaptionPanel* LayerSourcePanel;
  TAutoSizeLabel* LayerSourceCaption;
  TPictureBox* LSClearImage;
  QFrame* LayerSourceBevel;
  TPictureBox* LayerSourceImg;
  TColorSelect* LayerSourceColorSelect;
  TUpDown* LayerSourceUpDown;
  QCheckBox* TrBckCheckBox;
  QCheckBox* LarDiAreaCheckBox;
  QCheckBox* FlipCheckBox;
  QTabWidget* SettingsPageControl;
  QWidget* ReflectionPage;
  QWidget* ShadowPage;
  QWidget* ObjectPage;
  QCheckBox* ShowReflectionCheckBox;
  QCheckBox* FadeReflectionCheckBox;
  TAutoSizeLabel* sLabel3;
  TTrackBar* OpacityReflectionTrackBar;
  TAutoSizeLabel* sLabel4;
  TTrackBar* ReflectionLengthTrackBar;
  TAutoSizeLabel* sLabel5;
  TTrackBar* ReflectionBrightnessTrackBar;
  TAutoSizeLabel* sLabel6;
  TTrackBar* BlurReflectionTrackBar;
  QCheckBox* ShowShadowCheckBox;
  TAutoSizeLabel* sLabel7;
  TTrackBar* ShadowDensityTrackBar;
  TColorSelect* ShadowColorSelect;
  TAutoSizeLabel* sLabel8;
  TTrackBar* BlurShadowTrackBar;
  TAutoSizeLabel* sLabel9;
  TTrackBar* ObjectShadingTrackBar;
  TColorSelect* ObjectShadingColorSelect;
  TAutoSizeLabel* sLabel10;
  TTrackBar* ObjectHighlightTrackBar;
  TColorSelect* ObjectHighlightColorSelect;
  QComboBox* ResamplerClassNamesList;
  QComboBox* KernelClassNamesList;

  // The preview's view model and what the window keeps for the renderer.
  raster::TImgView32& View() { return ImgView->View(); }
  const core::TLayerKinds& LayerKinds() const { return fLayerKinds; }
  core::TShadeBitmap32List& ShadeBitmap32List() { return fShadeBitmap32List; }
  TSkinManager& sSkinManager1() { return fSkinManager; }
  const TAppPaths& Paths() const { return fPaths; }
  // Renders asked for so far (failed ones included).
  int RenderCount() const { return fRenderCount; }

  // The handlers. Each raises what its work raises; the connections report it.
  void Rerender();
  void LayerSourceUpDownClick();
  void LayerSourceImgClick();
  void LayerSourceColorSelectChange();
  void TemplateUpDownClick();
  void ApplyTempButtonClick();
  void WidthSpinEditChange();
  void HeightSpinEditChange();
  void ShowReflectionCheckBoxClick();
  void FadeReflectionCheckBoxClick();
  void OpacityReflectionTrackBarChange() {}
  void OpacityReflectionTrackBarMouseUp();
  void BlurReflectionTrackBarMouseUp();
  void ReflectionBrightnessTrackBarMouseUp();
  void ReflectionLengthTrackBarMouseUp();
  void ShadowDensityTrackBarChange() {}
  void ShadowDensityTrackBarMouseUp();
  void ShadowColorSelectChange();
  void BlurShadowTrackBarMouseUp();
  void ShowShadowCheckBoxClick();
  void ObjectShadingTrackBarChange() {}
  void ObjectShadingTrackBarMouseUp();
  void ObjectHighlightTrackBarChange() {}
  void ObjectHighlightTrackBarMouseUp();
  void ObjectShadingColorSelectChange();
  void ObjectHighlightColorSelectChange();
  void TrBckCheckBoxClick();
  void LarDiAreaCheckBoxClick();
  void ResamplerClassNamesListChange();
  void KernelClassNamesListChange();
  void SaveButtonClick();
  void AboutToolButtonClick();
  // A picture file dropped on the source panel (the current slot) or on the preview (FRONT).
  void LayerSourcePanelDrop(const std::string& FileName);
  void ImgViewDrop(const std::string& FileName);

  // The standard error report for an error that ended a handler.
  void ReportError(const std::exception& Error);

signals:
  // After every render that finished, with the canvas size it rendered.
  void Rendered(int Width, int Height);

protected:
  void closeEvent(QCloseEvent* Event) override;  // FormClose

private:
  void BuildLayout();
  void ConnectHandlers();
  void FormCreate();
  // Runs a handler, reporting what it raises.
  void Guarded(const std::function<void()>& Handler);
  // Loads FileName for Slot first; only a picture that loaded is stored, shown and rendered.
  void AssignSourcePicture(std::int32_t Slot, const std::string& FileName);
  // The visibility switch: layers of the given kinds shown or hidden without a render.
  void SetKindsVisible(bool Shadow, bool Visible);

  TWindowServices& fServices;
  TAppPaths fPaths;
  TForm2* fAboutBox = nullptr;
  core::TLayerKinds fLayerKinds;
  core::TShadeBitmap32List fShadeBitmap32List;
  // Source pictures decoded once and reused by the renders that follow while their files stay as they were.
  imagefiles::TPictureCache fPictures;
  core::TRenderEnvironment fEnv;
  TSkinManager fSkinManager;
  std::string fLastSaveName;
  // Whether the last render started with a background picture layer at the bottom of the stack.
  bool fBackgroundLayer = false;
  int fRenderCount = 0;
};

}  // namespace quirlon::app
