#include "bhwrap/checkpoint_lookup.h"

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

TEST(SnapshotPortBackend, FirstVirtioNetNotOnNetgraph) {
  checkpoint_config_map config = {{"pci.0.5.0.device", "virtio-net"},
                                  {"pci.0.5.0.backend", "netgraph"},
                                  {"pci.0.6.0.device", "virtio-net"}};
  auto found = snapshot_port_backend(config);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->first, "pci.0.6.0.backend");
  EXPECT_EQ(found->second, "");

  config["pci.0.6.0.backend"] = "tap0";
  config["pci.0.10.0.device"] = "virtio-net";  // sorts before 5: bytes, not numbers
  config["pci.0.10.0.backend"] = "tap9";
  found = snapshot_port_backend(config);
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, std::make_pair(std::string("pci.0.10.0.backend"), std::string("tap9")));
}

TEST(SnapshotPortBackend, NothingWhenAllUseNetgraphOrAreOtherDevices) {
  EXPECT_EQ(snapshot_port_backend({}), std::nullopt);
  checkpoint_config_map config = {
      {"pci.0.5.0.device", "virtio-net"},  {"pci.0.5.0.backend", "netgraph"},
      {"pci.0.6.0.device", "virtio-blk"},  {"pci.0.7.0.device", "virtio-net "},
      {"pci.0.8.0.devices", "virtio-net"}, {".device", "e1000"},
      {"device", "virtio-net"},
  };
  EXPECT_EQ(snapshot_port_backend(config), std::nullopt);
  // The shortest key that counts: ".device" itself, whose backend is ".backend".
  config[".device"] = "virtio-net";
  auto found = snapshot_port_backend(config);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->first, ".backend");
  // A backend of "Netgraph" or "netgraph " is not netgraph.
  config[".backend"] = "netgraph ";
  EXPECT_EQ(snapshot_port_backend(config)->second, "netgraph ");
}

}  // namespace
