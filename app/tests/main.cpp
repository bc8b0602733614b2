// Runs one test class by name (or all of them): test_app [AppLayoutTest ...] [QTest options].
#include <QApplication>
#include <QTest>

#include "AppTestSupport.h"

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QString only;
  QStringList args = QApplication::arguments();
  if (args.size() > 1 && !args[1].startsWith(QLatin1Char('-'))) only = args.takeAt(1);
  int failures = 0;
  bool ran = false;
  for (const auto& [name, make] : quirlon::app::test::Registry()) {
    if (!only.isEmpty() && only != name) continue;
    ran = true;
    std::unique_ptr<QObject> suite = make();
    failures += QTest::qExec(suite.get(), args);
  }
  if (!ran) {
    qWarning("no test class named %s", qPrintable(only));
    return 2;
  }
  return failures == 0 ? 0 : 1;
}
