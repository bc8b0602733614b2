#pragma once
// The about box: a text and a logo read from the data folder, the logo opening a link, and the
// credits of the libraries the program is built on.
#include <string>

#include <QDialog>
#include <QPlainTextEdit>
#include <QTabWidget>

#include "app/Controls.h"
#include "app/Platform.h"

namespace quirlon::app {

// "Data/LinkAdr.dat" without a line.
inline constexpr const char* kEmptyLinkFile = "Link file \"%s\" is empty: its first line must be the address the logo opens";

// The "Used libraries" page: each library with version, licence, authors and address, the
// entries separated by a line "---".
QString CreditsText();

class AboutDialog : public QDialog {
  Q_OBJECT
public:
  // Builds the layout and runs FormCreate (reading "Data/About.dat", "Data/LinkAdr.dat" and
  // "Data/Logo.jpg" from DataFolder). The box stays hidden.
  AboutDialog(TWindowServices& Services, std::string DataFolder, QWidget* Parent = nullptr);

  QTabWidget* AboutPageControl;
  QWidget* AboutPage;
  QWidget* LibrariesPage;
  QPlainTextEdit* sMemo2;
  TPictureBox* LogoImage;
  QPlainTextEdit* sMemo1;

  // The first line of "Data/LinkAdr.dat"; empty until read, and when it could not be.
  std::string AboutLink;

  // Centred over Owner and shown modally until closed with its close box.
  void ShowModalOver(QWidget* Owner);
  void LogoImageClick();

private:
  void FormCreate();

  TWindowServices& fServices;
  std::string fDataFolder;
};

}  // namespace quirlon::app
