#include "app/BackgroundTask.h"

#include <atomic>
#include <exception>
#include <thread>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

namespace quirlon::app {

void RunBesideEventLoop(const std::function<void()>& Work) {
  std::atomic<bool> done = false;
  std::exception_ptr error;
  std::thread worker([&] {
    try {
      Work();
    } catch (...) {
      error = std::current_exception();
    }
    done = true;
  });
  while (!done) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!done) QThread::msleep(1);
  }
  worker.join();
  if (error) std::rethrow_exception(error);
}

}  // namespace quirlon::app
