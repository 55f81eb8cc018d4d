#include "model/vm_config.h"

#include <exception>

#include <fmt/format.h>

#include "ipc/json_readers.h"
#include "model/record_json.h"
#include "model/record_list.h"

namespace {

template <typename Record>
void read_record(const nlohmann::json& j, const std::string& key, Record& out) {
  if (const nlohmann::json* v = json_member(j, key); v && v->is_object()) from_json(*v, out);
}

std::string read_extra_options(const nlohmann::json& j, const std::string& fallback) {
  const nlohmann::json* v = json_member(j, "extra_options");
  if (!v || !v->is_array()) return json_string_or(j, "extra_options", fallback);
  std::string joined;
  for (const std::string& option : json_string_list(*v)) {
    if (option.empty()) continue;
    if (!joined.empty()) joined += ' ';
    joined += option;
  }
  return joined;
}

}  // namespace

VmConfig::VmConfig(const nlohmann::json& j) { from_json(j, *this); }

void from_json(const nlohmann::json& j, VmConfig& c) {
  if (!j.is_object()) return;
  c.id = json_string_or(j, "id", c.id);
  c.cpus = json_uint_or(j, "cpus", c.cpus);
  c.cores = json_uint_or(j, "cores", c.cores);
  c.threads = json_uint_or(j, "threads", c.threads);
  c.sockets = json_uint_or(j, "sockets", c.sockets);
  c.ram = json_uint_or(j, "ram", c.ram);
  c.balloon_slot = json_uint_or(j, "balloon_slot", c.balloon_slot);
  c.os_type = json_uint_or(j, "os_type", c.os_type);
  c.os_name = json_string_or(j, "os_name", c.os_name);
  c.root_fs = json_string_or(j, "root_fs", c.root_fs);
  c.root_dataset_name = json_string_or(j, "root_dataset_name", c.root_dataset_name);
  c.boot_media = json_string_or(j, "boot_media", c.boot_media);
  c.uefi = json_string_or(j, "uefi", c.uefi);
  c.extra_options = read_extra_options(j, c.extra_options);
  c.default_shell = json_string_or(j, "default_shell", c.default_shell);
  c.zero_based_link = json_uint_or(j, "zero_based_link", c.zero_based_link);
  c.gc_id = json_int_or(j, "gc_id", c.gc_id);
  c.gc_name = json_string_or(j, "gc_name", c.gc_name);
  read_record(j, "vnc", c.vnc);
  read_record(j, "guest", c.guest);
  read_record(j, "suspend-device", c.suspend_device);
  read_record(j, "hv_faults", c.hv_faults);
  read_record_list(j, "disks", c.disks);
  read_record_list(j, "network_ports", c.network_ports);
  read_record_list(j, "passthru_devices", c.passthru_devices);
  c.service = json_int_or(j, "service", c.service);
  c.admin_status = json_int_or(j, "admin_status", c.admin_status);
  c.cpu_priority = json_int_or(j, "cpu_priority", c.cpu_priority);
  c.vcpu_class = json_int_or(j, "vcpu_class", c.vcpu_class);
  c.incarnation = json_uint_or(j, "incarnation", c.incarnation);
  c.rtty_port = json_uint_or(j, "rtty_port", c.rtty_port);
}

void to_json(nlohmann::json& j, const VmConfig& c) {
  j = nlohmann::json{
      {"id", c.id},
      {"cpus", c.cpus},
      {"cores", c.cores},
      {"threads", c.threads},
      {"sockets", c.sockets},
      {"ram", c.ram},
      {"balloon_slot", c.balloon_slot},
      {"os_type", c.os_type},
      {"os_name", c.os_name},
      {"root_fs", c.root_fs},
      {"root_dataset_name", c.root_dataset_name},
      {"boot_media", c.boot_media},
      {"uefi", c.uefi},
      {"extra_options", c.extra_options},
      {"default_shell", c.default_shell},
      {"zero_based_link", c.zero_based_link},
      {"gc_id", c.gc_id},
      {"gc_name", c.gc_name},
      {"vnc", c.vnc},
      {"guest", c.guest},
      {"suspend-device", c.suspend_device},
      {"hv_faults", c.hv_faults},
      {"disks", c.disks},
      {"network_ports", c.network_ports},
      {"passthru_devices", c.passthru_devices},
      {"service", c.service},
      {"admin_status", c.admin_status},
      {"cpu_priority", c.cpu_priority},
      {"vcpu_class", c.vcpu_class},
      {"incarnation", c.incarnation},
      {"rtty_port", c.rtty_port},
  };
}

VmConfigResult parse_vm_config(const std::string& text) {
  VmConfigResult result;
  try {
    nlohmann::json j = nlohmann::json::parse(text);
    if (!j.is_object()) {
      result.error = fmt::format("VM record is not a JSON object but {}", j.type_name());
      return result;
    }
    result.config = VmConfig(j);
  } catch (const std::exception& e) {
    result.config = VmConfig();
    result.error = e.what();
  } catch (...) {
    result.config = VmConfig();
    result.error = "Unknown JSON deserialization error";
  }
  return result;
}

std::optional<std::string> check_netgraph_ports(const VmConfig& config) {
  for (const VmNetworkPort& port : config.network_ports) {
    if (port.backend != kNetBackendNetgraph)
      return fmt::format(
          "Network port in slot {} uses backend {}; only netgraph ({}) is supported",
          port.slot, port.backend, kNetBackendNetgraph);
  }
  return std::nullopt;
}
