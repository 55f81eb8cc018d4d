#include "bhwrap/cloudinit/cloudinit.h"

#include <exception>
#include <fstream>
#include <optional>

#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include "bhwrap/cloudinit/cloudinit_host_name.h"
#include "platform/host_root.h"

namespace {

// The object's own logger: its lines carry guest data (passwords, keys), so
// its only sink discards them. Not registered, so several objects (and copies
// in other threads) never clash.
std::shared_ptr<spdlog::logger> make_cloudinit_logger() {
  auto sink = std::make_shared<spdlog::sinks::null_sink_mt>();
  sink->set_pattern("%v");
  sink->set_level(spdlog::level::debug);
  return std::make_shared<spdlog::logger>("cloudinit", std::move(sink));
}

// The JSON object in the file at `path`; nothing when the file does not open,
// does not parse (logged) or holds another JSON value.
std::optional<nlohmann::json> read_json_object(spdlog::logger& logger, const std::string& vm_id,
                                               const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  nlohmann::json j = nlohmann::json::parse(in, nullptr, false);
  if (j.is_discarded()) {
    logger.warn("Cloudinit: VM_id={} load(): '{}' is not valid JSON", vm_id, path);
    return std::nullopt;
  }
  if (!j.is_object()) return std::nullopt;
  return j;
}

}  // namespace

Cloudinit::Cloudinit(std::string vm_id)
    : vm_id_(std::move(vm_id)), logger_(make_cloudinit_logger()) {}

bool Cloudinit::from_item(const std::string& item) {
  VmConfigResult parsed = parse_vm_config(item);
  if (!parsed.error.empty()) {
    logger_->info("Cloudinit: VM_id={} from_item(): {}", vm_id_, parsed.error);
    return false;
  }
  try {
    generate(std::move(parsed.config));
  } catch (const std::exception& e) {
    logger_->info("Cloudinit: VM_id={} from_item(): {}", vm_id_, e.what());
    return false;
  } catch (...) {
    logger_->info("Cloudinit: VM_id={} from_item(): Unknown exception", vm_id_);
    return false;
  }
  return !vm_config_.id.empty() && !user_data_.empty();
}

bool Cloudinit::load(const std::string& vm_dir) {
  const std::string dir = platform::host_path(vm_dir);

  std::optional<nlohmann::json> record = read_json_object(*logger_, vm_id_, dir + "/vm.json");
  if (record) vm_config_ = VmConfig(*record);

  std::optional<nlohmann::json> guest = read_json_object(*logger_, vm_id_, dir + "/guest.json");
  if (guest) {
    VmGuest settings;
    from_json(*guest, settings);
    vm_config_.guest = std::move(settings);
  }

  if (std::ifstream in(dir + "/cloud-init/user-data"); in) {
    std::string text;
    for (std::string line; std::getline(in, line);) {
      text += line;
      text += '\n';
    }
    user_data_ = std::move(text);
  }

  return record && guest && !user_data_.empty();
}

void Cloudinit::generate(VmConfig record) {
  vm_config_ = std::move(record);
  const std::string hostname = effective_host_name(vm_config_);
  if (vm_config_.os_type == kOsTypeOpenStack)
    generate_openstack(hostname);
  else
    generate_nocloud(hostname);
}
