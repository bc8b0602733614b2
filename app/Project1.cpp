// The program entry: the application, its title, the main window and the hidden about box.
#include <QApplication>

#include "app/Platform.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "imagefiles/SafeFile.h"

int main(int argc, char* argv[]) {
  quirlon::imagefiles::InstallSaveSignalHandlers();
  QApplication application(argc, argv);
  quirlon::app::SetApplicationTitle(QStringLiteral("Quirlon 1.0"));
  QApplication::setWindowIcon(quirlon::app::ApplicationIcon());

  quirlon::app::TQtWindowServices services;
  const quirlon::app::TAppPaths paths = quirlon::app::TAppPaths::BesideExecutable();
  quirlon::app::TForm1 form1(services, paths);
  quirlon::app::TForm2 form2(services, paths.DataFolder, &form1);
  form1.SetAboutBox(&form2);

  form1.show();
  return application.exec();
}
