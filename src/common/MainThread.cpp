#include "common/MainThread.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace brelo {
namespace {

// Work posted to the main thread: a list under a mutex, and an eventfd that
// wakes the main thread's event loop.
class TMainQueue {
 public:
  TMainQueue() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), notifier_(fd_, QSocketNotifier::Read) {
    QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { Run(); });
  }
  void Post(std::function<void()> fn) {
    {
      std::lock_guard<std::mutex> lk(m_);
      queue_.push_back(std::move(fn));
    }
    const uint64_t one = 1;
    // A full counter already wakes the main thread.
    const ssize_t r = ::write(fd_, &one, sizeof one);
    (void)r;
  }

 private:
  void Run() {
    uint64_t n;
    const ssize_t r = ::read(fd_, &n, sizeof n);  // the count itself does not matter
    (void)r;
    std::deque<std::function<void()>> work;
    {
      std::lock_guard<std::mutex> lk(m_);
      work.swap(queue_);
    }
    for (auto& fn : work) fn();
  }
  int fd_;
  QSocketNotifier notifier_;
  std::mutex m_;
  std::deque<std::function<void()>> queue_;
};

std::atomic<TMainQueue*> g_queue{nullptr};

}  // namespace

void InstallMainThreadQueue() {
  if (g_queue.load() == nullptr) g_queue = new TMainQueue();  // lives as long as the process
}

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
  if (TMainQueue* q = g_queue.load()) {
    q->Post(std::move(fn));
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
