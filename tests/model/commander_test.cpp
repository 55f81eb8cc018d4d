#include "model/commander.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/model/sandbox_root.h"

namespace {

class MakeVmStart : public ::testing::Test {
 protected:
  SandboxRoot root_;
};

TEST_F(MakeVmStart, FillsTheCommandFromTheRecord) {
  root_.make_pool("z05");
  _command cmd = Commander::make_vm_start(R"({"id": "403404",
      "root_dataset_name": "z05/.vm_V4/000403404", "root_fs": "/pools/z05/.vm_V4/000403404",
      "cores": 4, "sockets": 2, "threads": 2, "cpu_priority": 5, "vcpu_class": 7,
      "incarnation": 9, "admin_status": 3, "service": 10, "rtty_port": 7001,
      "vnc": {"host": "10.0.0.9"}, "gc_id": 1,
      "disks": [{"dev": "/dev/zvol/z05/a"}, {"dev": "/dev/zvol/z05/b"}],
      "unknown_key": "kept"})");
  EXPECT_EQ(cmd.vm_id, "403404");
  EXPECT_EQ(cmd.method, "vms-start");
  EXPECT_EQ(cmd.pool, "z05");
  EXPECT_FALSE(cmd.remote);  // the pool has a state directory here
  EXPECT_EQ(cmd.root_fs, "/pools/z05/.vm_V4/000403404");
  EXPECT_EQ(cmd.rtty_host, "10.0.0.9");
  EXPECT_EQ(cmd.disk_paths, (std::vector<std::string>{"/dev/zvol/z05/a", "/dev/zvol/z05/b"}));
  EXPECT_EQ(cmd.topology, 0x2204);  // threads 2 << 12 | sockets 2 << 8 | cores 4
  EXPECT_EQ(cmd.cpu_priority, 5);
  EXPECT_EQ(cmd.vcpu_class, 7);
  EXPECT_EQ(cmd.incarnation, 9u);
  EXPECT_EQ(cmd.admin_status, 3);
  EXPECT_TRUE(cmd.service);
  EXPECT_EQ(cmd.rtty_port, 7001);
  EXPECT_EQ(cmd.cloudinit_port, 0);
  // The item is the record as compact JSON, unknown keys included.
  EXPECT_EQ(nlohmann::json::parse(cmd.item)["unknown_key"], "kept");
  EXPECT_EQ(cmd.item.find('\n'), std::string::npos);
}

TEST_F(MakeVmStart, CloudInitResetPolicyAndRemote) {
  _command cmd = Commander::make_vm_start(R"({"id": "5", "root_dataset_name": "far/vm5",
      "gc_name": "Cloud-init: SmartOS", "hv_faults": {"sigabort": {"interval": 90, "restarts": 1}}})");
  EXPECT_TRUE(cmd.remote);  // no pool "far" on this host
  EXPECT_NE(cmd.cloudinit_port, 0);
  EXPECT_EQ(cmd.abort_interval, 90u);
  EXPECT_EQ(cmd.abort_restarts, 1u);

  EXPECT_NE(Commander::make_vm_start(R"({"id": "5", "gc_id": 2})").cloudinit_port, 0);
  EXPECT_EQ(Commander::make_vm_start(R"({"id": "5", "gc_name": "cloud-init: smartos"})")
                .cloudinit_port,
            0);
  EXPECT_TRUE(Commander::make_vm_start(R"({"id": "5"})").remote);  // no dataset at all
  EXPECT_FALSE(Commander::make_vm_start(R"({"id": "5", "service": 1})").service);
}

TEST_F(MakeVmStart, ValuesAreCutNotWrapped) {
  EXPECT_EQ(make_topology(1, 1, 1), 0x1101);
  EXPECT_EQ(make_topology(300, 20, 16), 0xffff);
  EXPECT_EQ(make_topology(256, 1, 1), 0x11ff);
  EXPECT_EQ(Commander::make_vm_start(R"({"id": "1"})").topology, 0x1101);
  _command cmd = Commander::make_vm_start(
      R"({"id": "1", "rtty_port": 70000, "hv_faults": {"sigabort": {"interval": 5000000000}}})");
  EXPECT_EQ(cmd.rtty_port, 0);
  EXPECT_EQ(cmd.abort_interval, 0xffffffffu);
}

TEST_F(MakeVmStart, UnusableRecordsGiveNoVmId) {
  for (const char* text : {"", "garbage", "[]", "{}", R"({"id": ""})", R"({"cpus": 2})",
                           "\"403404\""}) {
    _command cmd;
    EXPECT_NO_THROW(cmd = Commander::make_vm_start(text)) << text;
    EXPECT_EQ(cmd.vm_id, "") << text;
  }
}

}  // namespace
