#include "bhwrap/checkpoint/checkpoint_lookup.h"

#include <gtest/gtest.h>

namespace {

TEST(CheckpointSlotDevice, LooksUpTheSlotsDeviceKey) {
  snapshot_config snapshot("/dev/zvol/p/.vm_V4/000000001/snapshot.bvmss", "1");
  snapshot.config = {{"pci.0.7.0.device", "virtio-blk"}, {"pci.0.65535.0.device", "nvme"},
                     {"pci.0.70.0.device", "ahci"}};
  EXPECT_EQ(checkpoint_slot_device(snapshot, 7), "virtio-blk");
  EXPECT_EQ(checkpoint_slot_device(snapshot, 65535), "nvme");
  EXPECT_EQ(checkpoint_slot_device(snapshot, 0), std::nullopt);
  snapshot.config = {{"pci.0.7.0.device", ""}};
  EXPECT_EQ(checkpoint_slot_device(snapshot, 7), "");
}

// The first virtio-net device, keys in byte order, whose backend is not
// exactly "netgraph": its backend key and value.
TEST(SnapshotPortBackend, FirstVirtioNetNotOnNetgraph) {
  using Found = std::optional<std::pair<std::string, std::string>>;
  const std::pair<checkpoint_config_map, Found> cases[] = {
      {{}, std::nullopt},
      {{{"pci.0.5.0.device", "virtio-net"}, {"pci.0.5.0.backend", "netgraph"},
        {"pci.0.6.0.device", "virtio-blk"}, {"pci.0.7.0.device", "virtio-net "},
        {"pci.0.8.0.devices", "virtio-net"}, {".device", "e1000"}, {"device", "virtio-net"}},
       std::nullopt},
      {{{"pci.0.5.0.device", "virtio-net"}, {"pci.0.5.0.backend", "netgraph"},
        {"pci.0.6.0.device", "virtio-net"}},
       Found{{"pci.0.6.0.backend", ""}}},
      // Slot 10 sorts before slot 5: bytes, not numbers.
      {{{"pci.0.5.0.device", "virtio-net"}, {"pci.0.5.0.backend", "tap0"},
        {"pci.0.10.0.device", "virtio-net"}, {"pci.0.10.0.backend", "tap9"}},
       Found{{"pci.0.10.0.backend", "tap9"}}},
      // The shortest key that counts; "netgraph " is not netgraph.
      {{{".device", "virtio-net"}}, Found{{".backend", ""}}},
      {{{".device", "virtio-net"}, {".backend", "netgraph "}}, Found{{".backend", "netgraph "}}},
  };
  for (const auto& [config, found] : cases)
    EXPECT_EQ(snapshot_port_backend(config), found) << (found ? found->first : "none");
}

}  // namespace
