// Commander: turns requests and stored VM records into command records.
#pragma once

#include <string>

#include "model/command.h"

class Commander {
 public:
  // A "vms-start" command made from a VM record (JSON text): VM id, pool,
  // directories, the record itself, console and cloud-init settings, CPU
  // settings and the reset policy; time-out 30 s. A record that cannot be
  // used (not JSON, not an object, no id) gives a command with an empty vm_id.
  static _command make_vm_start(const std::string& record_text);
};
