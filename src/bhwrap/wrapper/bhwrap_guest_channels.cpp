#include "bhwrap/wrapper/bhwrap_guest_channels.h"

#include <exception>
#include <system_error>
#include <thread>

#include <spdlog/spdlog.h>

#include "bhwrap/cloudinit/cloudinit_channel.h"
#include "bhwrap/console/nmdm_path.h"
#include "bhwrap/console/rtty.h"

namespace {

constexpr const char* kCloudInitGcName = "Cloud-init: SmartOS";

}  // namespace

bool has_cloudinit_port(const VmConfig& record) {
  return record.gc_id == 2 || record.gc_name == kCloudInitGcName;
}

GuestSerialPorts make_guest_serial_ports(const VmConfig& record, const std::string& log_prefix,
                                         const std::string& vm_id) {
  std::vector<platform::NullModemPair> pairs;
  auto make = [&](const std::string& side_a, const std::string& side_b) -> std::string {
    std::string error;
    auto pair = platform::NullModemPair::create(side_a, side_b, &error);
    if (!pair) {
      spdlog::error("{}. vm_id={} ### BhWrap: null-modem pair {}: {}", log_prefix, vm_id, side_a,
                    error);
      return "";
    }
    pairs.push_back(std::move(*pair));
    return side_b;
  };
  make(nmdm_console_path(record, "A"), nmdm_console_path(record, "B"));
  std::string cloudinit;
  if (has_cloudinit_port(record))
    cloudinit = make(nmdm_cloudinit_path(record, "A"), nmdm_cloudinit_path(record, "B"));
  return GuestSerialPorts(std::move(pairs), std::move(cloudinit));
}

void start_console_bridge(const std::string& vm_id, const std::string& host, uint16_t port) {
  try {
    std::thread([vm_id, host, port] {
      try {
        rtty_thread(vm_id, host, port);
      } catch (const std::exception& e) {
        spdlog::error("### RTTY: {}", e.what());
      }
    }).detach();
  } catch (const std::system_error& e) {
    spdlog::error("vm_id={} ### BhWrap: console bridge not started: {}", vm_id, e.what());
  }
}

void start_cloudinit_channel(const _command& command, const std::string& device) {
  try {
    Cloudinit cloudinit(command.vm_id);
    if (command.remote)
      cloudinit.from_item(command.item);
    else
      cloudinit.load(command.root_fs);
    std::thread(cloudinit_thread, std::move(cloudinit), command.vm_id, device,
                CloudinitChannelTimings{})
        .detach();
  } catch (const std::exception& e) {
    spdlog::error("vm_id={} ### BhWrap: cloud-init channel not started: {}", command.vm_id,
                  e.what());
  }
}
