// The daemon's per-VM busy set: one command per VM at a time. Each entry is
// also the watch record of a forked operation: what it waits for, until when,
// and which process would end without a word if something went wrong.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "daemon/vm_command_word.h"
#include "platform/process_handle.h"
#include "model/vm_state.h"

enum class PendingPhase {
  confirm,  // a wrapper's start confirmation
  exit,     // the VM's exit report (stop, and the first half of a restart)
  suspend,  // the suspend worker's result and the VM's exit report
};

struct PendingCommand {
  std::string vm_id;
  VmCommandWord word = VmCommandWord::start;
  std::string reply_fifo;  // "" when nobody waits for an answer
  int64_t timeout_s = -1;  // the record's "status"; -1 = none
  std::string pool;
  PendingPhase phase = PendingPhase::confirm;
  double deadline = 0;  // loop time at which the watchdog gives the command up
  // The process whose end is noticed by polling: the forked wrapper or worker,
  // or the wrapper of a VM being stopped; empty for none.
  platform::ProcessHandle watch;
  double gone_since = -1;  // loop time the watched process was first seen gone
  // Suspend only.
  SuspendMark mark = SuspendMark::own;
  platform::ProcessHandle wrapper;  // the VM's wrapper, watched once the worker is done
  bool worker_done = false;
  int32_t worker_status = 0;
  bool exit_seen = false;
  // Stop of a hypervisor that runs without its wrapper (then the watched
  // process): SIGKILL at kill_at.
  pid_t orphan_bhyve = 0;
  double kill_at = -1;
};

class PendingCommands {
 public:
  // Adds the command unless one is pending for its VM; false when the VM is busy.
  bool try_add(PendingCommand command);
  bool busy(const std::string& vm_id) const { return entries_.count(vm_id) != 0; }
  // The entry of the VM, or null; valid until the set changes.
  PendingCommand* find(const std::string& vm_id);
  // Removes the VM's entry and returns it.
  std::optional<PendingCommand> take(const std::string& vm_id);

  // The VMs whose deadline is at or before `now`, in id order.
  std::vector<std::string> expired(double now) const;
  // Every VM with a pending command, in id order.
  std::vector<std::string> ids() const;
  size_t size() const { return entries_.size(); }

 private:
  std::map<std::string, PendingCommand> entries_;
};
