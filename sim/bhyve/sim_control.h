// How a test tells the stand-in hypervisor to behave: the file
// "bhyve-sim.ctl" in its working directory (the VM directory), read once at
// start, one "key=value" per line; "#" starts a comment line.
//
//   ready_delay_ms=N     running (ping answers 0) N ms after start (default 100)
//   never_ready=1        never leaves the booting state
//   reset_after_ms=N     the guest resets N ms after start: exit status 0
//   reset_after_seen_ms=N  the guest resets N ms after a ping first found it
//                        running (so whoever waits for the start sees it)
//   crash_after_ms=N     the hypervisor crashes N ms after start (SIGSEGV)
//   exit_after_ms=N      exits with exit_status N ms after start
//   exit_status=S        the status for exit_after_ms (default 1); given alone,
//                        exits with it right at start
//   ignore_sigterm=1     SIGTERM does nothing
//   shutdown_delay_ms=N  the guest takes N ms to power off after SIGTERM
//   boot_rom_fail=1      the boot ROM fails its verification: exit status 11
//   vcpu_class=C         the vCPU class the VM starts with (default 0)
//   guest_script=FILE    a guest on the serial ports (see guest_script.h),
//                        started once the VM runs; FILE relative to the
//                        working directory
//   expect_timeout_ms=N  how long a script's "expect" waits (default 5000)
#pragma once

#include <optional>
#include <string>

namespace bhyve_sim {

inline constexpr const char* control_file_name = "bhyve-sim.ctl";

struct SimControl {
  int ready_delay_ms = 100;
  bool never_ready = false;
  int reset_after_ms = -1;
  int reset_after_seen_ms = -1;
  int crash_after_ms = -1;
  int exit_after_ms = -1;
  int exit_status = 1;
  bool ignore_sigterm = false;
  int shutdown_delay_ms = 0;
  bool boot_rom_fail = false;
  int vcpu_class = 0;
  std::string guest_script;
  int expect_timeout_ms = 5000;
};

struct SimControlResult {
  SimControl control;
  std::string error;  // an unknown key or a bad value: "" when none
};

// Parses the control text.
SimControlResult parse_sim_control(const std::string& text);

// Reads `path`; a missing file gives the defaults.
SimControlResult load_sim_control(const std::string& path);

}  // namespace bhyve_sim
