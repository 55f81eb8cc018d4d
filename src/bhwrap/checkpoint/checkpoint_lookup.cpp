#include "bhwrap/checkpoint/checkpoint_lookup.h"

#include <string_view>

#include <fmt/format.h>

std::optional<std::string> checkpoint_slot_device(const snapshot_config& snapshot, uint16_t slot) {
  auto it = snapshot.config.find(fmt::format("pci.0.{}.0.device", slot));
  if (it == snapshot.config.end()) return std::nullopt;
  return it->second;
}

std::optional<std::pair<std::string, std::string>> snapshot_port_backend(
    const checkpoint_config_map& config) {
  constexpr std::string_view device_suffix = ".device";
  for (const auto& [key, value] : config) {
    if (key.size() < device_suffix.size() || !key.ends_with(device_suffix) || value != "virtio-net")
      continue;
    std::string backend_key = key.substr(0, key.size() - device_suffix.size()) + ".backend";
    auto backend = config.find(backend_key);
    if (backend != config.end() && backend->second == "netgraph") continue;
    return std::make_pair(std::move(backend_key),
                          backend == config.end() ? std::string() : backend->second);
  }
  return std::nullopt;
}
