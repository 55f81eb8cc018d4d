// state_sem: the named POSIX semaphore that guards the state changes of one VM
// or one pool (its marks in the state directory). Held from construction to
// destruction. When it cannot be taken in time, the holder goes on without it
// (held() is false): a semaphore left at zero by a process that died must not
// stop every later state change.
#pragma once

#include <semaphore.h>

#include <chrono>
#include <string>

class state_sem {
 public:
  static constexpr std::chrono::milliseconds kDefaultWait{3000};

  // `name` is the plain name ("/z05_state.lock"); it is mapped through
  // platform::ipc_name here.
  explicit state_sem(const std::string& name, std::chrono::milliseconds wait = kDefaultWait);
  ~state_sem();
  state_sem(const state_sem&) = delete;
  state_sem& operator=(const state_sem&) = delete;

  bool held() const { return held_; }
  const std::string& name() const { return name_; }  // the mapped name

  // The semaphore name of a pool's state: "/<pool>_state.lock".
  static std::string pool_name(const std::string& pool);
  // The semaphore name of a VM's state: "/vm.<vm id>_state.lock".
  static std::string vm_name(const std::string& vm_id);

  // Removes the semaphore of a plain name (tests and clean-up); true when it
  // was removed or did not exist.
  static bool remove(const std::string& name);

 private:
  std::string name_;
  sem_t* sem_ = SEM_FAILED;
  bool held_ = false;
};
