// A mutex that spins a little before it sleeps. For a lock held a few
// microseconds at a time by one thread and looked at by another on a second
// core: the waiter usually gets it within its spin, and the holder is spared
// a wake-up call at every unlock.
#pragma once

#include <pthread.h>

namespace brelo {

class TAdaptiveMutex {
 public:
  TAdaptiveMutex() {
    pthread_mutexattr_t a;
    pthread_mutexattr_init(&a);
#ifdef PTHREAD_ADAPTIVE_MUTEX_INITIALIZER_NP
    pthread_mutexattr_settype(&a, PTHREAD_MUTEX_ADAPTIVE_NP);
#endif
    pthread_mutex_init(&m_, &a);
    pthread_mutexattr_destroy(&a);
  }
  ~TAdaptiveMutex() { pthread_mutex_destroy(&m_); }
  TAdaptiveMutex(const TAdaptiveMutex&) = delete;
  TAdaptiveMutex& operator=(const TAdaptiveMutex&) = delete;

  void lock() { pthread_mutex_lock(&m_); }
  bool try_lock() { return pthread_mutex_trylock(&m_) == 0; }
  void unlock() { pthread_mutex_unlock(&m_); }

 private:
  pthread_mutex_t m_;
};

}  // namespace brelo
