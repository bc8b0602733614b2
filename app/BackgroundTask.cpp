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
  // The loop sleeps until an event comes or the work ends: waiting costs the window's thread nothing.
  QEventLoop loop;
  std::thread worker([&] {
    try {
      Work();
    } catch (...) {
      error = std::current_exception();
    }
    done = true;
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  if (!done) loop.exec();
  // An application that quits ends every loop early: the work is waited for all the same.
  while (!done) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!done) QThread::msleep(1);
  }
  worker.join();
  if (error) std::rethrow_exception(error);
}

}  // namespace quirlon::app
