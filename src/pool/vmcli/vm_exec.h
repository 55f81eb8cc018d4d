// VM::exec: the "vm" system of the command line.
//
//   list                         every VM with its status and its pool's state
//   status, config               one VM (config: the running VM's settings)
//   nice, vcpuclass              its hypervisor's CPU priority, its vCPU class
//   setnice, setvcpuclass        set them to `param`
//   start, stop, restart, suspend, resume, pause, unpause
//                                a command to the daemon, waiting for its answer
//   unshare                      its remote disks (with `param` "force": unshared)
//
// Every action but list needs the VM id. Unless the action only reads
// (list, status, config, nice, vcpuclass), a VM whose pool is stopped or
// suspended is refused with the pool's state and what to run instead.
#pragma once

#include <string>

class VM {
 public:
  // Runs `action` for the VM `vm_id`; true when it succeeded (exit status 0).
  // Errors are printed.
  static bool exec(const std::string& action, const std::string& vm_id, const std::string& param);
};
