// The daemon's command record: built by Commander from one request (or from a
// stored VM record), passed to the method handlers and the VM operations, and
// handed to the VM wrapper. Copied memberwise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct _command {
  std::string vm_id;
  std::string corr_id;
  std::string method;  // "vms-start", "vms-resume", "vms-receive", ...
  std::string pool;    // the first component of root_dataset_name
  std::string root_dataset_name;
  std::string root_fs;  // the VM directory
  std::string item;     // the VM record as compact JSON
  std::string rtty_host;  // the "host" of the record's "vnc"
  std::string reply_fifo;
  std::vector<std::string> disk_paths;  // the record's disk devices in record order
  bool remote = false;  // the VM has no local pool
  bool force = false;
  int32_t timeout = 30;  // seconds
  int64_t cpu_priority = -1;
  int64_t vcpu_class = -1;
  // cores in bits 0-7, sockets in bits 8-11, threads in bits 12-15.
  uint16_t topology = 0;
  uint64_t incarnation = 0;
  int64_t admin_status = 0;
  bool service = false;  // the record's "service" is 10
  uint16_t rtty_port = 0;  // 0 = no console bridge
  // "vms-receive": the port bhyve listens on; otherwise non-zero when the guest
  // takes its cloud-init metadata over its second serial port.
  uint16_t cloudinit_port = 0;
  uint32_t abort_interval = 40;  // seconds
  uint32_t abort_restarts = 3;
  bool restart_started = false;
};

// The topology word of `_command` from a record's counts; a count beyond its
// field is cut to the field's largest value rather than wrapped.
uint16_t make_topology(uint64_t cores, uint64_t sockets, uint64_t threads);
