// Exit statuses of the stand-in hypervisor.
#pragma once

namespace bhyve_sim {

inline constexpr int exit_reset = 0;     // the guest reset itself
inline constexpr int exit_poweroff = 1;  // the guest powered off (also after SIGTERM)
inline constexpr int exit_usage = 4;     // malformed command line
inline constexpr int exit_setup = 5;     // the VM could not be set up (devices, node,
                                         // image, migration stream, control file)
inline constexpr int exit_bootrom = 11;  // the boot ROM failed its verification

}  // namespace bhyve_sim
