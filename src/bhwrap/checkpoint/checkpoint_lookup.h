// Lookups in the bhyve configuration loaded from a checkpoint image, for the
// checks before a resume.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "bhwrap/checkpoint/checkpoint_snapshot_config.h"

// The device emulated at PCI slot `slot` (key "pci.0.<slot>.0.device"), or
// nothing when the image has no such key.
std::optional<std::string> checkpoint_slot_device(const snapshot_config& snapshot, uint16_t slot);

// The first virtio-net device, in key order, whose backend is not netgraph:
// {its backend key, the backend's value or "" when the key is absent}.
// Nothing when every virtio-net device uses netgraph.
std::optional<std::pair<std::string, std::string>> snapshot_port_backend(
    const checkpoint_config_map& config);
