// The program entry: the application, its title, the main window and the hidden about box.
#include <QApplication>
#include <QSettings>

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
  quirlon::app::TAppPaths paths = quirlon::app::TAppPaths::BesideExecutable();
  // The user's own settings file (~/.config/quirlon/quirlon.ini); only the real program remembers.
  paths.SettingsFile =
      QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("quirlon"), QStringLiteral("quirlon"))
          .fileName()
          .toStdString();
  quirlon::app::MainWindow window(services, paths);
  quirlon::app::AboutDialog about(services, paths.DataFolder, &window);
  window.SetAboutBox(&about);

  window.show();
  // Files named on the command line or by the desktop's "Open with".
  window.OpenFiles(QApplication::arguments().mid(1));
  return application.exec();
}
