// The program entry: the application, its title, the main window and the hidden about box.
#include <QApplication>

#include "app/Platform.h"
#include "app/AboutDialog.h"
#include "app/MainWindow.h"
#include "imagefiles/SafeFile.h"

int main(int argc, char* argv[]) {
  quirlon::imagefiles::InstallSaveSignalHandlers();
  QApplication application(argc, argv);
  quirlon::app::SetApplicationTitle(QStringLiteral("Quirlon 1.0"));
  QApplication::setWindowIcon(quirlon::app::ApplicationIcon());

  quirlon::app::TQtWindowServices services;
  const quirlon::app::TAppPaths paths = quirlon::app::TAppPaths::BesideExecutable();
  quirlon::app::MainWindow window(services, paths);
  quirlon::app::AboutDialog about(services, paths.DataFolder, &window);
  window.SetAboutBox(&about);

  window.show();
  return application.exec();
}
