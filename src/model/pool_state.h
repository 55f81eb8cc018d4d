// PoolState: the state of a pool, kept as marks in the pool's state directory
// ("<pools root>/<pool>/<state dir>", see pool_state_dir()).
//
// Mark files (names begin with a dot, so they never collide with the VMs'
// "<vm id>.state" links and "<vm id>.suspended" / "<vm id>.pool_suspended"
// marks, nor with the pool operations' ".lock"):
//   ".pool.stopped"    the pool is stopped
//   ".pool.suspended"  the pool is suspended
// A readable state directory without either mark is a started pool; when both
// are there (a change cut short), suspended wins, so the pool can be resumed.
// A pool without a state directory is unknown; a state directory that cannot
// be listed (or is not a directory) is unreadable, with the system error.
// Every change holds the pool's state_sem.
#pragma once

#include <chrono>
#include <string>

class PoolState {
 public:
  enum Value : int { unknown = 0, stopped = 1, started = 2, suspended = 3, unreadable = 4 };

  static constexpr const char* kStoppedMark = ".pool.stopped";
  static constexpr const char* kSuspendedMark = ".pool.suspended";

  explicit PoolState(const std::string& pool);

  const std::string& pool() const { return pool_; }
  // The state directory as a real host path (map it before touching files).
  const std::string& dir() const { return dir_; }

  // The current state; `error` is the errno value behind `unreadable` (and
  // ENOENT for a missing directory), else 0.
  Value read(int& error) const;
  Value read() const;

  // Writes the marks of `state` (stopped, started or suspended) under the
  // pool's semaphore; false (and a log line) when the state is not one of those
  // or a mark could not be written or removed.
  bool set_marks(int state, std::chrono::milliseconds sem_wait = std::chrono::milliseconds(3000)) const;

  // The same for a pool named by the caller.
  static Value read(const std::string& pool, int& error);
  static Value read(const std::string& pool);
  static bool set_marks(const std::string& pool, int state);

 private:
  std::string pool_;
  std::string dir_;
};

// "unknown", "stopped", "started", "suspended", "unreadable" for 0 to 4;
// "bad_enum_PoolState" for any other value.
std::string pool_state_name(int state);
