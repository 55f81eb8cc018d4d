// The runtime record of a running VM, kept as compact JSON in the VM's "vm"
// shared-memory object. The VM wrapper writes it when bhyve starts and keeps
// its restart count there; the daemon writes the pending command into it; the
// command line reads it to list running VMs.
#pragma once

#include <cstdint>
#include <string>

struct VmRuntimeRecord {
  std::string vmid;
  std::string method;         // the last command
  int32_t pid = 0;            // bhyve's pid (-1 while a restart is pending)
  int32_t ppid = 0;           // the wrapper's pid
  int32_t tstamp = 30;        // the stop time-out in seconds
  int32_t abort_count = 0;    // guest resets in the current window
  int64_t abort_time = 0;     // start of that window, seconds since the epoch
  std::string item;           // the VM record as JSON text
  bool restart_started = false;

  // {"vmid", "method", "pid", "ppid", "tstamp", "abort_count", "abort_time",
  //  "item", "restart_started"} as compact JSON; "item" is a JSON string.
  std::string to_text() const;

  bool operator==(const VmRuntimeRecord&) const = default;
};

// The record of `text`; members missing or unreadable keep the defaults above,
// and a text that is no JSON object gives the default record. "item" may also
// be a JSON object, which is kept as its text. Never throws.
VmRuntimeRecord parse_runtime_record(const std::string& text);
