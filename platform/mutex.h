// Mutex, MutexLock, RecursiveMutex and CondVar: std::mutex and std::condition_variable
// dressed as capabilities, so that clang checks every GUARDED_BY and
// REQUIRES in the project.
//
// Waits are written as loops over the condition, so that the analysis sees
// the guarded state read with the mutex held:
//
//   MutexLock lock(&mutex_);
//   while (!ready_ && !stop_) {
//     if (!cv_.WaitUntil(deadline)) break;  // timed out
//   }
//
// Threads: all members may be called from any thread. A CondVar belongs to
// the one Mutex it was built with. REQUIRES: a waiter holds that mutex (the
// analysis cannot tie a CondVar to its Mutex, so this is not checked).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/thread_annotations.h"

namespace orvanta {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }
  bool TryLock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }
  // Tells the analysis that the caller holds the mutex (no run-time check).
  void AssertHeld() ASSERT_CAPABILITY(this) {}

  // The standard names, so that std::scoped_lock and friends work too.
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  friend class CondVar;
  std::mutex mutex_;
};

// Holds a Mutex for its scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_->Lock(); }
  ~MutexLock() RELEASE() { mutex_->Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* const mutex_;
};

// A mutex that the holding thread may take again (a call that re-enters the
// object it came from). The analysis does not follow re-entry: it sees each
// scope's hold on its own, which is what a nested call needs.
class CAPABILITY("mutex") RecursiveMutex {
 public:
  RecursiveMutex() = default;
  RecursiveMutex(const RecursiveMutex&) = delete;
  RecursiveMutex& operator=(const RecursiveMutex&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};

// Holds a RecursiveMutex for its scope.
class SCOPED_CAPABILITY RecursiveMutexLock {
 public:
  explicit RecursiveMutexLock(RecursiveMutex* mutex) ACQUIRE(mutex) : mutex_(mutex) {
    mutex_->Lock();
  }
  ~RecursiveMutexLock() RELEASE() { mutex_->Unlock(); }
  RecursiveMutexLock(const RecursiveMutexLock&) = delete;
  RecursiveMutexLock& operator=(const RecursiveMutexLock&) = delete;

 private:
  RecursiveMutex* const mutex_;
};

// A condition variable tied to one Mutex. Wakes may be spurious: callers
// loop over their condition.
class CondVar {
 public:
  explicit CondVar(Mutex* mutex) : mutex_(mutex) {}
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;

  // Releases the mutex while waiting and holds it again on return.
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_->mutex_, std::adopt_lock);
    cv_.wait(lock);
    lock.release();
  }
  // Returns false when the deadline passed without a wake.
  template <class Clock, class Duration>
  bool WaitUntil(const std::chrono::time_point<Clock, Duration>& deadline) {
    std::unique_lock<std::mutex> lock(mutex_->mutex_, std::adopt_lock);
    const bool woken = cv_.wait_until(lock, deadline) == std::cv_status::no_timeout;
    lock.release();
    return woken;
  }
  // Returns false when the timeout passed without a wake.
  template <class Rep, class Period>
  bool WaitFor(const std::chrono::duration<Rep, Period>& timeout) {
    std::unique_lock<std::mutex> lock(mutex_->mutex_, std::adopt_lock);
    const bool woken = cv_.wait_for(lock, timeout) == std::cv_status::no_timeout;
    lock.release();
    return woken;
  }
  void Signal() { cv_.notify_one(); }
  void SignalAll() { cv_.notify_all(); }

 private:
  Mutex* const mutex_;
  std::condition_variable cv_;
};

}  // namespace orvanta
