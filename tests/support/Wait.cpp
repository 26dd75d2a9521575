#include "support/Wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace brelo::test {

bool WaitUntil(const std::function<bool()>& pred, int limitMs) {
  QElapsedTimer t;
  t.start();
  while (!pred()) {
    if (t.elapsed() > limitMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

void ProcessEventsFor(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
}

}  // namespace brelo::test
