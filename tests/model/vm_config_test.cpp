#include "model/vm_config.h"

#include <gtest/gtest.h>

namespace {

// A record as the management system sends it: every element kind present.
const char* kFullRecord = R"({
  "id": "403404", "cpus": 8, "cores": 4, "threads": 2, "sockets": 1,
  "ram": 8589934592, "balloon_slot": 7, "os_type": 7, "os_name": "Debian 12",
  "root_fs": "/pools/z05/.vm_V4/000403404", "root_dataset_name": "z05/.vm_V4/000403404",
  "boot_media": "/iso/debian.iso", "uefi": "/fw/uefi.fd", "extra_options": "-s 9,virtio-9p,x=/y",
  "default_shell": "/bin/bash", "zero_based_link": 1, "gc_id": 2, "gc_name": "Cloud-init: SmartOS",
  "vnc": {"host": "10.0.0.9", "port": 5901, "width": 1024, "height": 768},
  "suspend-device": {"trtype": "tcp", "traddr": "10.0.0.20"},
  "hv_faults": {"sigabort": {"interval": 60, "restarts": 5}},
  "service": 10, "admin_status": 3, "cpu_priority": 5, "vcpu_class": 2,
  "incarnation": 77, "rtty_port": 7001,
  "disks": [
    {"devtype": "virtio-blk", "trtype": "pci", "dev": "/dev/zvol/z05/d0", "size": 10737418240,
     "sector_size": {"logical": 512, "physical": 4096}, "slot": 5, "iops_limit": 500},
    {"devtype": "nvme", "dev": "/dev/zvol/z05/d1", "slot": 6, "mbps_limit": 200},
    {"trtype": "tcp", "traddr": "10.0.0.21", "guid": 4420,
     "dev": "nqn.2023-01.com.example:z05:d2", "slot": 7}
  ],
  "network_ports": [
    {"net_link_name": "eth0", "vale_switch_name": "sw0", "net_cidr": "10.1.0.0/24",
     "mac": ["02:00:00:00:00:01", "02:00:00:00:00:02", "02:00:00:00:00:03"],
     "ipv4": [{"address": "10.1.0.5", "gateway": "10.1.0.1", "netmask": "255.255.255.0"},
              {"address": "10.1.0.6", "gateway": "", "netmask": "255.255.255.0"}],
     "ipv6": [{"address": "fd00::5/56", "gateway": "fd00::1"}, {"address": "fd00::6"}],
     "mtu": 9000, "ip_guard": 0, "mac_guard": 0, "slot": 10, "backend": 2,
     "network_id": 12, "netmask": 24, "port_id": 3, "ratelimit_mbits": 1000}
  ],
  "passthru_devices": [{"description": "GPU", "slot": 12, "bus": 3, "device": 0, "function": 1}],
  "guest": {"hostname": "web1", "kms_host": "kms.example", "operator-script": "echo op",
            "ssh_password_auth": 1,
            "resolver": {"name_server": ["10.0.0.1", "10.0.0.2"], "search": "example"},
            "boot_cmds": ["echo boot"], "run_cmds": ["echo run", "uptime"],
            "users": {"root": {"password": "pw", "ssh-authorized-keys": ["ssh-ed25519 AAA"]},
                      "ops": {"password": "", "ssh-authorized-keys": []}}}
})";

// Every value of `part` stands in `whole` at the same place.
void expect_contained(const nlohmann::json& part, const nlohmann::json& whole,
                      const std::string& where) {
  if (part.is_object()) {
    ASSERT_TRUE(whole.is_object()) << where;
    for (const auto& [key, value] : part.items()) {
      ASSERT_TRUE(whole.contains(key)) << where << "/" << key;
      expect_contained(value, whole[key], where + "/" + key);
    }
  } else if (part.is_array()) {
    ASSERT_TRUE(whole.is_array()) << where;
    ASSERT_EQ(part.size(), whole.size()) << where;
    for (size_t i = 0; i < part.size(); ++i)
      expect_contained(part[i], whole[i], where + "/" + std::to_string(i));
  } else {
    EXPECT_EQ(part, whole) << where;
  }
}

TEST(VmConfig, FullRecordIsReadCompletelyAndWrittenBack) {
  VmConfigResult first = parse_vm_config(kFullRecord);
  ASSERT_EQ(first.error, "");
  // Every value of the record is read and written back under its own key.
  nlohmann::json written = first.config;
  expect_contained(nlohmann::json::parse(kFullRecord), written, "");
  VmConfigResult again = parse_vm_config(written.dump());
  ASSERT_EQ(again.error, "");
  EXPECT_EQ(nlohmann::json(again.config), written);
  // Working fields of the suspend device never travel.
  EXPECT_FALSE(written["suspend-device"].contains("path"));

  // What an element lacks takes the default; users come in key order.
  const VmConfig& c = first.config;
  ASSERT_EQ(c.disks.size(), 3u);
  EXPECT_EQ(c.disks[0].mbps_limit, -1);
  EXPECT_EQ(c.disks[1].iops_limit, -1);
  EXPECT_EQ(c.disks[1].sector_size.logical, 0u);
  ASSERT_EQ(c.network_ports.size(), 1u);
  ASSERT_EQ(c.network_ports[0].ipv6.size(), 2u);
  EXPECT_EQ(c.network_ports[0].ipv6[1].gateway, "");
  ASSERT_EQ(c.guest.users.size(), 2u);
  EXPECT_EQ(c.guest.users[0].name, "ops");
}

TEST(VmConfig, DefaultsWhenKeysAreMissing) {
  const VmConfig made;
  EXPECT_EQ(nlohmann::json(VmConfig(nlohmann::json::object())), nlohmann::json(made));
  EXPECT_EQ(nlohmann::json(parse_vm_config("{}").config), nlohmann::json(made));
  EXPECT_EQ(made.cpus * made.cores * made.threads * made.sockets, 1u);  // each count is 1
  EXPECT_EQ(made.ram, 2147483648ULL);
  EXPECT_EQ(made.hv_faults.sigabort_interval, 40u);
  EXPECT_EQ(made.hv_faults.sigabort_restarts, 3u);
  EXPECT_TRUE(made.disks.empty());
  VmConfig c = parse_vm_config(R"({"network_ports":[{}],"disks":[{}]})").config;
  ASSERT_EQ(c.network_ports.size(), 1u);
  EXPECT_EQ(c.network_ports[0].backend, kNetBackendNetgraph);
  EXPECT_EQ(c.network_ports[0].ip_guard, 1u);
  EXPECT_EQ(c.network_ports[0].mac_guard, 1u);
  EXPECT_EQ(c.network_ports[0].ratelimit_mbits, -1);
  EXPECT_EQ(c.disks[0].iops_limit, -1);
  EXPECT_EQ(c.disks[0].mbps_limit, -1);
}

TEST(VmConfig, LenientValues) {
  VmConfig c = parse_vm_config(R"({"cpus": "4", "ram": "1024", "gc_id": "2",
      "cores": -3, "sockets": "x", "network_ports": [{"mac": "02:00:00:00:00:09",
      "slot": "5"}], "extra_options": ["-s 9,a", "", "-s 10,b"]})").config;
  EXPECT_EQ(c.cpus, 4u);
  EXPECT_EQ(c.ram, 1024u);
  EXPECT_EQ(c.gc_id, 2);
  EXPECT_EQ(c.cores, 1u);    // negative count: default
  EXPECT_EQ(c.sockets, 1u);  // not a number: default
  ASSERT_EQ(c.network_ports.size(), 1u);
  EXPECT_EQ(c.network_ports[0].mac, std::vector<std::string>{"02:00:00:00:00:09"});
  EXPECT_EQ(c.network_ports[0].slot, 5u);
  EXPECT_EQ(c.extra_options, "-s 9,a -s 10,b");
}

TEST(VmConfig, BadDocumentsGiveErrorsNeverExceptions) {
  for (const char* text : {"", "not json", "{\"id\": ", "[1,2,3]", "\"text\"", "42", "null"}) {
    VmConfigResult r;
    EXPECT_NO_THROW(r = parse_vm_config(text)) << text;
    EXPECT_NE(r.error, "") << text;
    EXPECT_EQ(r.config.id, "") << text;
    EXPECT_EQ(r.config.cpus, 1u) << text;
  }
  // Wrong shapes inside a record are skipped, the rest is read.
  VmConfigResult r = parse_vm_config(R"({"id": "7", "disks": {"dev": "x"},
      "network_ports": [1, "a", {"slot": 3}], "vnc": [], "guest": "x",
      "hv_faults": {"sigabort": 5}, "passthru_devices": null})");
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.config.id, "7");
  EXPECT_TRUE(r.config.disks.empty());
  ASSERT_EQ(r.config.network_ports.size(), 1u);
  EXPECT_EQ(r.config.network_ports[0].slot, 3u);
  EXPECT_EQ(r.config.hv_faults.sigabort_interval, 40u);
}

TEST(CheckNetgraphPorts, NamesTheOffendingPort) {
  VmConfig c = parse_vm_config(kFullRecord).config;
  EXPECT_FALSE(check_netgraph_ports(c).has_value());
  EXPECT_FALSE(check_netgraph_ports(VmConfig()).has_value());
  c.network_ports.push_back(VmNetworkPort{});
  c.network_ports.back().slot = 11;
  c.network_ports.back().backend = 1;
  auto error = check_netgraph_ports(c);
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find("slot 11"), std::string::npos) << *error;
  EXPECT_NE(error->find("backend 1"), std::string::npos) << *error;
}

}  // namespace
