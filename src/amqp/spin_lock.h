// A byte spin lock that yields the processor while it waits, and its guard.
#pragma once

#include <sched.h>

#include <atomic>

class SpinLock {
 public:
  void lock() {
    while (flag_.exchange(1, std::memory_order_acquire) != 0) ::sched_yield();
  }
  void unlock() { flag_.exchange(0, std::memory_order_release); }

 private:
  std::atomic<unsigned char> flag_{0};
};

class SpinGuard {
 public:
  explicit SpinGuard(SpinLock& lock) : lock_(lock) { lock_.lock(); }
  ~SpinGuard() { lock_.unlock(); }
  SpinGuard(const SpinGuard&) = delete;
  SpinGuard& operator=(const SpinGuard&) = delete;

 private:
  SpinLock& lock_;
};
