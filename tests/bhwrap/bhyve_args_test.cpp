#include "bhwrap/wrapper/bhyve_args.h"

#include <signal.h>

#include <map>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "bhwrap/wrapper/bhwrap.h"
#include "tests/sim/bhyve_runner.h"

namespace {

VmConfig record(const std::string& json) {
  VmConfigResult parsed = parse_vm_config(json);
  EXPECT_EQ(parsed.error, "") << json;
  return parsed.config;
}

// A VM with every kind of element the line knows.
const char* const kFullRecord = R"({
  "id": "403404", "cpus": 8, "sockets": 2, "cores": 2, "threads": 2, "ram": 4294967296,
  "boot_media": "/pools/z05/iso/install.iso", "root_fs": "/pools/z05/403404",
  "uefi": "/pools/z05/fw/CUSTOM.fd", "balloon_slot": 12, "gc_id": 2,
  "extra_options": "-o x.y=1",
  "vnc": {"host": "10.0.0.1", "port": 5907, "width": 1024, "height": 768},
  "disks": [
    {"devtype": "virtio-blk", "dev": "/dev/zvol/z05/403404/disk0", "slot": 5,
     "sector_size": {"logical": 512, "physical": 4096}, "iops_limit": 500, "mbps_limit": 20},
    {"devtype": "nvme", "trtype": "pci", "dev": "/dev/zvol/z05/403404/disk1", "slot": 6,
     "iops_limit": 0, "mbps_limit": -1},
    {"devtype": "nvme", "trtype": "tcp", "traddr": "10.0.0.2", "guid": 4420,
     "dev": "nqn.2024-01.io.ombrix:403404-7", "slot": 7, "mbps_limit": 30},
    {"devtype": "ahci", "dev": "/dev/zvol/z05/403404/disk2", "slot": 8},
    {"devtype": "virtio-blk", "trtype": "tcp", "dev": "/dev/zvol/z05/403404/disk3", "slot": 9},
    {"trtype": "tcp", "traddr": "10.0.0.3", "guid": 4421, "dev": "nqn.x:y", "slot": 10}
  ],
  "network_ports": [
    {"vale_switch_name": "vsw0", "port_id": 11, "slot": 3,
     "mac": ["02:00:00:00:07:01", "02:00:00:00:07:02", "02:00:00:00:07:03"],
     "ipv4": [{"address": "10.1.0.5"}, {"address": "10.1.0.6"}],
     "ipv6": [{"address": "fd00::5/64"}, {"address": "fd00::6/64"}],
     "mac_guard": 0, "ip_guard": 0, "ratelimit_mbits": 100},
    {"vale_switch_name": "vsw1", "port_id": 12, "slot": 13, "mac": "02:00:00:00:07:09",
     "ipv6": [{"address": "fd01::9"}], "ratelimit_mbits": 0}
  ],
  "passthru_devices": [{"slot": 14, "bus": 3, "device": 0, "function": 1}]
})";

TEST(BhyveArgs, BuildsEveryElementInOrder) {
  std::vector<std::string> expected = {
      "/usr/sbin/bhyve", "-A", "-H", "-S", "-c sockets=2,cores=2,threads=2", "-m 4294967296",
      "-s 0,hostbridge",
      "-s 1,ahci-cd,/pools/z05/iso/install.iso,ro",
      "-s 4,ahci-cd,/pools/z05/403404/seed.iso,ro",
      "-s 5,virtio-blk,/dev/zvol/z05/403404/disk0,sectorsize=512/4096,iops_limit=500,mbps_limit=20",
      "-s 6,nvme,/dev/zvol/z05/403404/disk1,sectsz=512",
      "-s 7:0,nvme,nvmf,trtype=tcp,adrfam=IPv4,traddr=10.0.0.2,trsvcid=4420,"
      "subnqn=nqn.2024-01.io.ombrix:403404-7,dpdk_core_mask=0x1,mbps_limit=30",
      "-s 10:0,nvme,nvmf,trtype=tcp,adrfam=IPv4,traddr=10.0.0.3,trsvcid=4421,subnqn=nqn.x:y,"
      "dpdk_core_mask=0x1",
      "-s 3,virtio-net,netgraph,socket=vm403404_11,path=vsw0:,hook=vmlink11,peerhook=link11,"
      "mac=02:00:00:00:07:01,mac_list=02:00:00:00:07:02;02:00:00:00:07:03,mac_filter_disable=1,"
      "ip_filter_disable=1,ip=10.1.0.5;10.1.0.6,ratelimit=100,"
      "ipv6_accept_net=\"fd00::5/64,fd00::6/64\"",
      "-s 13,virtio-net,netgraph,socket=vm403404_12,path=vsw1:,hook=vmlink12,peerhook=link12,"
      "mac=02:00:00:00:07:09,ipv6_accept_net=fd01::9",
      "-s 14,passthru,3/0/1",
      "-s 12,virtio-balloon",
      "-s 28,virtio-rnd",
      "-s 29,fbuf,tcp=10.0.0.1:5907,w=1024,h=768",
      "-s 30,xhci,tablet",
      "-s 31,lpc",
      "-l com1,/dev/nmdm403404A",
      "-l com2,/dev/nmdm403404ciA",
      "-l bootrom,/pools/z05/fw/CUSTOM.fd",
      "-o x.y=1"};
  EXPECT_EQ(make_bhyve_args(record(kFullRecord)), expected);
}

TEST(BhyveArgs, LeavesOutWhatTheRecordDoesNotHave) {
  VmConfig c = record(R"({"id": "7", "cpus": 2, "root_fs": "/vm/7", "gc_id": 1,
                          "gc_name": "cloud-init: smartos"})");
  std::vector<std::string> expected = {
      "/usr/sbin/bhyve", "-A", "-H", "-c 2", "-m 2147483648", "-s 0,hostbridge",
      "-s 4,ahci-cd,/vm/7/seed.iso,ro", "-s 28,virtio-rnd", "-s 29,fbuf,tcp=:0,w=0,h=0",
      "-s 30,xhci,tablet", "-s 31,lpc", "-l com1,/dev/nmdm7A",
      "-l bootrom,/usr/local/share/uefi-firmware/BHYVE_UEFI.fd"};
  EXPECT_EQ(make_bhyve_args(c), expected);

  c.gc_name = "Cloud-init: SmartOS";
  auto args = make_bhyve_args(c);
  EXPECT_EQ(args.at(args.size() - 2), "-l com2,/dev/nmdm7ciA");
}

TEST(BhyveArgs, TopologyText) {
  struct Case {
    uint64_t sockets, cores, threads;
    std::string element;
  };
  for (const auto& t : std::vector<Case>{{1, 1, 1, "-c 4"},
                                         {2, 2, 2, "-c sockets=2,cores=2,threads=2"},
                                         {1, 1, 2, "-c threads=2"},
                                         {1, 4, 1, "-c cores=4"},
                                         {2, 1, 2, "-c sockets=2,threads=2"},
                                         {0, 0, 0, "-c "},
                                         {1, 0, 1, "-c "}}) {
    VmConfig c;
    c.cpus = 4;
    c.sockets = t.sockets;
    c.cores = t.cores;
    c.threads = t.threads;
    EXPECT_EQ(make_bhyve_args(c).at(3), t.element)
        << t.sockets << "/" << t.cores << "/" << t.threads;
  }
}

TEST(BhyveArgs, DiskKindsAndLimits) {
  VmDisk d;
  d.dev = "/dev/zvol/p/d";
  d.slot = 5;
  EXPECT_EQ(make_disk_arg(d), "5,virtio-blk,/dev/zvol/p/d,sectorsize=0/0");
  d.trtype = "pci";
  d.iops_limit = 0;
  d.mbps_limit = 7;
  EXPECT_EQ(make_disk_arg(d), "5,virtio-blk,/dev/zvol/p/d,sectorsize=0/0,mbps_limit=7");
  d.devtype = "nvme";
  d.sector_size = {4096, 512};
  d.iops_limit = 1;
  EXPECT_EQ(make_disk_arg(d), "5,nvme,/dev/zvol/p/d,sectsz=4096,iops_limit=1,mbps_limit=7");
  // Kinds the line does not know, compared case-sensitively.
  for (auto [devtype, trtype] : {std::pair{"virtio-blk", "tcp"}, {"ahci", ""}, {"NVMe", "pci"},
                                 {"nvme", "rdma"}, {"", "TCP"}}) {
    d.devtype = devtype;
    d.trtype = trtype;
    EXPECT_EQ(make_disk_arg(d), std::nullopt) << devtype << "/" << trtype;
  }
}

TEST(BhyveArgs, NetBackendCheck) {
  using Map = std::map<std::string, std::string>;
  const std::string none =
      "Unsupported network backend 'none' (pci.0.3.0.backend); only netgraph is supported";
  const std::pair<Map, std::optional<std::string>> cases[] = {
      {{{"pci.0.3.0.device", "virtio-net"}}, none},
      {{{"pci.0.3.0.device", "virtio-net"}, {"pci.0.3.0.backend", ""}}, none},
      {{{"pci.0.10.0.device", "virtio-net"}, {"pci.0.10.0.backend", "vale"}},
       "Unsupported network backend 'vale' (pci.0.10.0.backend); only netgraph is supported"},
      {{{"pci.0.5.0.device", "virtio-net"}, {"pci.0.5.0.backend", "netgraph"},
        {"pci.0.6.0.device", "ahci-cd"}},
       std::nullopt},
  };
  for (const auto& [config, error] : cases) EXPECT_EQ(check_snapshot_net_backend(config), error);
}

// The full line, split as the wrapper splits it, runs the stand-in hypervisor.
TEST(BhyveArgs, TheHypervisorRunsTheLine) {
  bhyve_test::TempRoot root;
  VmConfig c = record(kFullRecord);
  // With the seed image and the boot ROM in place the wrapper keeps them.
  root.write(c.root_fs + "/seed.iso", "");
  root.write(c.uefi, "firmware");
  root.write("/dev/nmdm403404A", "");
  root.write("/dev/nmdm403404ciA", "");
  root.write("bhyve-sim.ctl", "ready_delay_ms=1\n");
  _command cmd;
  cmd.root_fs = c.root_fs;
  std::vector<std::string> args = BhWrap(cmd).build_argv(c);
  // Nothing left out; every element but the program, -A, -H and -S split in two.
  ASSERT_EQ(args.size(), 2 * make_bhyve_args(c).size() - 4);
  args.erase(args.begin());  // the program itself
  args.push_back("403404");
  {
    bhyve_test::BhyveProcess bhyve(root.vm_dir(), SIM_BHYVE, args);
    EXPECT_TRUE(test_support::eventually(
        [] { return bhyve_test::vmm_request("403404", "PING") == "OK 0"; }))
        << bhyve.log();
    bhyve.signal(SIGTERM);
    EXPECT_EQ(bhyve.exit_code(), 1);
  }
  bhyve_test::unlink_vm_shm("403404");
}

}  // namespace
