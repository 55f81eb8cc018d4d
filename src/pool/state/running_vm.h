// What the runtime record of a running VM (its "vm" shared-memory object)
// tells the listings: the VM's pool and whether its disks are remote.
#pragma once

#include <optional>
#include <string>

struct running_vm {
  std::string vm_id;
  std::string pool;     // the record's root_dataset_name up to the first "/"
  bool remote = false;  // the record's first disk is reached over "tcp"
};

// The running VM of the runtime record of `vm_id`; nothing when the VM has no
// record, or the record lacks its id or VM record, or the VM record does not
// parse.
std::optional<running_vm> read_running_vm(const std::string& vm_id);
