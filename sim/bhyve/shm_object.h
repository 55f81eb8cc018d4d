// A POSIX shared-memory object of the VM that the hypervisor keeps: the
// "devices" and "reconfig" objects named "/bhyve.vm.<id>.devices" and
// "/bhyve.vm.<id>.reconfig" (tagged for the host root like every IPC name).
// The object stays when the process dies; `unlink` removes it.
#pragma once

#include <string>

#include "sim/include/sim_fd.h"

namespace bhyve_sim {

class ShmObject {
 public:
  // `kind`: "devices" or "reconfig".
  ShmObject(const std::string& vm_name, const std::string& kind);

  // The object's IPC name as this process uses it.
  const std::string& name() const { return name_; }

  // Creates (or opens) the object and replaces its contents by `text`.
  bool write(const std::string& text, std::string* error);

  // Removes the object's name; the descriptor stays usable.
  void unlink();

 private:
  std::string name_;
  sim::UniqueFd fd_;
};

}  // namespace bhyve_sim
