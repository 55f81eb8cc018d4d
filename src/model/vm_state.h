// VmState: one VM's entry in the state store of its pool.
//
// In the pool's state directory (pool_state_dir()):
//   "<vm id>.state"           symbolic link to the VM's vm.json (in its VM
//                             directory, the record's root_fs); the target is
//                             written as the real host path and mapped here
//                             when it is read
//   "<vm id>.suspended"       the VM was suspended on its own
//   "<vm id>.pool_suspended"  the VM was suspended with its pool
// Mark changes hold the VM's state_sem.
#pragma once

#include <chrono>
#include <string>

enum class VmStateCode {
  ok = 0,
  no_link,     // the VM has no state link
  dangling,    // the link points nowhere
  unreadable,  // the link or vm.json cannot be read
  empty,       // vm.json holds nothing
};

struct VmStateRead {
  VmStateCode code = VmStateCode::ok;
  std::string text;  // vm.json on success, else the reason
  bool ok() const { return code == VmStateCode::ok; }
};

enum class SuspendMark {
  none,   // not suspended
  own,    // "<vm id>.suspended": suspended outside the pool
  pool,   // "<vm id>.pool_suspended": suspended with the pool
  error,  // the marks could not be read
};

class VmState {
 public:
  VmState(const std::string& pool, const std::string& vm_id,
          std::chrono::milliseconds sem_wait = std::chrono::milliseconds(3000));

  const std::string& pool() const { return pool_; }
  const std::string& vm_id() const { return vm_id_; }
  // Real host paths.
  const std::string& dir() const { return dir_; }
  std::string link_path() const { return dir_ + "/" + vm_id_ + ".state"; }

  // vm.json through the state link; remembered for read_result_text().
  VmStateRead read();
  // Only the text of vm.json; "" when it cannot be read.
  std::string read_text();
  // The reason of the last read() failure; "" after a successful read.
  const std::string& read_result_text() const { return last_error_; }
  // The state link and its target exist.
  bool exists() const;

  // Stores `record_text` as "vm.json" in `vm_dir` (real path; atomically) and
  // points the state link at it (also atomically). "" or the reason.
  std::string store(const std::string& vm_dir, const std::string& record_text);

  // Which suspend mark the VM has; on SuspendMark::error, `error` says why.
  SuspendMark suspend_mark(std::string& error) const;
  // Sets the VM's own or its pool's suspend mark and removes the other one.
  bool set_suspend_mark(SuspendMark which);
  // Removes both suspend marks; false when one of them could not be removed.
  bool clear_suspend_mark();

 private:
  std::string mark_path(SuspendMark which) const;  // mapped path

  std::string pool_;
  std::string vm_id_;
  std::string dir_;
  std::chrono::milliseconds sem_wait_;
  std::string last_error_;
};
