// Renders the first template in the real window on the running display and saves a picture of
// the window: quirlon-screenshot OUTPUT.png [WIDTHxHEIGHT]. Used for the pictures in the
// documentation; with a size the window is enlarged to it first.
#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include "app/Platform.h"
#include "app/MainWindow.h"

#include <QPushButton>

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  if (argc < 2) {
    qWarning("usage: quirlon-screenshot OUTPUT.png [WIDTHxHEIGHT]");
    return 2;
  }
  QSize size;
  if (argc > 2) {
    const QStringList sides = QString::fromLocal8Bit(argv[2]).split(QLatin1Char('x'));
    if (sides.size() == 2) size = QSize(sides[0].toInt(), sides[1].toInt());
    if (!size.isValid()) {
      qWarning("quirlon-screenshot: the size must be WIDTHxHEIGHT, such as 1000x720");
      return 2;
    }
  }
  const QString output = QString::fromLocal8Bit(argv[1]);
  quirlon::app::SetApplicationTitle(QStringLiteral("Quirlon 1.0"));
  quirlon::app::TQtWindowServices services;
  quirlon::app::TAppPaths paths = quirlon::app::TAppPaths::BesideExecutable();
  paths.ExecutableFileName = paths.DataFolder + "quirlon";
  quirlon::app::MainWindow window(services, paths);
  // Sized before it is shown: without a window manager a later resize may not be painted whole.
  if (size.isValid()) window.resize(size);
  window.show();
  int status = 1;
  QTimer::singleShot(300, &window, [&] {
    window.findChild<QPushButton*>(QStringLiteral("apply"))->click();
    QTimer::singleShot(300, &window, [&] {
      // The window draws itself: under Xvfb without a window manager a grab of the screen may
      // hold only part of an enlarged window.
      const QPixmap shot = window.grab();
      status = shot.save(output) ? 0 : 1;
      QApplication::quit();
    });
  });
  const int loop = application.exec();
  return status != 0 ? status : loop;
}
