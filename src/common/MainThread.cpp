#include "common/MainThread.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace brelo {

bool IsMainThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app == nullptr || QThread::currentThread() == app->thread();
}

void PostToMain(std::function<void()> fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void OnMainThread(std::function<void()> fn) {
  if (IsMainThread()) fn();
  else PostToMain(std::move(fn));
}

namespace {
struct TCall {
  std::mutex m;
  std::condition_variable cv;
  enum { Pending, Running, Done, Abandoned } state = Pending;
};
}  // namespace

bool RunOnMainAndWait(const std::function<void()>& fn, const std::atomic<bool>* abandon) {
  if (IsMainThread()) {
    fn();
    return true;
  }
  auto call = std::make_shared<TCall>();
  const std::function<void()>* f = &fn;
  PostToMain([call, f] {
    {
      std::lock_guard<std::mutex> lk(call->m);
      if (call->state == TCall::Abandoned) return;  // f points into a frame that is gone
      call->state = TCall::Running;
    }
    (*f)();
    {
      std::lock_guard<std::mutex> lk(call->m);
      call->state = TCall::Done;
    }
    call->cv.notify_all();
  });
  std::unique_lock<std::mutex> lk(call->m);
  for (;;) {
    if (call->state == TCall::Done) return true;
    if (call->state == TCall::Pending && abandon != nullptr && abandon->load()) {
      call->state = TCall::Abandoned;
      return false;
    }
    call->cv.wait_for(lk, std::chrono::milliseconds(20));
  }
}

}  // namespace brelo
