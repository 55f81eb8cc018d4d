// The RTTY: the VM's serial console (side B of its console null-modem pair)
// offered as a raw TCP console. One client at a time is joined byte for byte
// to the guest's console; each connection gets a bridge thread of its own
// (rtty_bridge.h).
#pragma once

#include <cstdint>
#include <string>

// The listening thread's body: listens on `rtty_host` (an IPv4 address
// text) at `rtty_port` (under a host root the root's own port for it,
// platform::host_port) and bridges each accepted client to the console
// device of `vm_id` (nmdm_console_path, side "B"). Returns only when the
// listening socket cannot be set up; the VM then runs without a console.
void rtty_thread(const std::string& vm_id, const std::string& rtty_host, uint16_t rtty_port);
