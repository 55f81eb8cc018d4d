// The cloud-init channel thread ("cloudinit"): serves the guest metadata
// protocol on side B of the VM's cloud-init null-modem pair, reports the
// session's progress to the management system and ends after a period of
// silence or when the device goes away.
#pragma once

#include <cstddef>
#include <source_location>
#include <string>

#include "bhwrap/cloudinit/cloudinit.h"
#include "bhwrap/cloudinit/cloudinit_channel_filter.h"

struct CloudinitChannelTimings {
  double silence_s = 180.0;     // the channel ends this long after the last byte
  double io_collect_s = 0.01;   // the loop's I/O collect interval
  int write_wait_ms = 5000;     // how long one answer may wait for the guest to take it
  size_t line_limit = CloudinitLineFilter::kDefaultLineLimit;  // longest request line kept
};

// The progress messages.
inline constexpr const char* kCloudinitSessionBegin = "CloudInit session begin";
inline constexpr const char* kCloudinitSessionNegotiate = "CloudInit session NEGOTIATE";
inline constexpr const char* kCloudinitSessionLastRequest = "CloudInit session last request";
inline constexpr const char* kCloudinitSessionEnd = "CloudInit session end";

// The thread body: serves `device` (the real path of side B; "" for the VM's
// own "/dev/nmdm<vm_id>ciB") until the guest falls silent or the device ends.
// Returns when the session is over; never throws.
void cloudinit_thread(Cloudinit cloudinit, std::string vm_id, std::string device = "",
                      CloudinitChannelTimings timings = {});

// Sends one progress message about `vm_id` to the AMQP daemon's queue (a VM
// message event, published with the configured event key); a failure is logged
// with the caller's place.
void send_guest_message(const std::string& vm_id, const std::string& text,
                        std::source_location where = std::source_location::current());
