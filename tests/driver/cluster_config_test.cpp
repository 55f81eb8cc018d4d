#include "driver/cluster_config.h"

#include <gtest/gtest.h>

#include "driver/config.h"
#include "tests/support/temp_root.h"

namespace {

using test_support::TempRoot;

using nlohmann::json;

const json kCluster = json::parse(R"({
  "cluster": {"name": "c1"},
  "nodes": [
    {"name": "n1", "interfaces": [{"label": "mgmt", "address": "192.168.0.1"},
                                  {"label": "NVMf", "address": "10.0.0.1/24"}]},
    {"name": "n2", "interfaces": [{"label": "nvmf", "address": "10.0.0.2"}]},
    {"name": "n3", "interfaces": [{"label": "mgmt", "address": "192.168.0.3"}]},
    "not a node"
  ],
  "services": [
    {"name": "pool z05", "type": "pool", "pool": "z05", "node": "n1"},
    {"name": "z06", "node": "n2"},
    {"name": "z07", "node": "n3"},
    {"name": "z08", "node": "n9"}
  ],
  "service_groups": [{"name": "g1", "node": "n2", "pools": ["z10"], "services": ["z11"]}],
  "distribution_preferences": {}
})");

TEST(ClusterConfig, AddressOfThePoolsNode) {
  EXPECT_EQ(cluster_nvmf_address(kCluster, "z05"), "10.0.0.1");  // prefix length cut
  EXPECT_EQ(cluster_nvmf_address(kCluster, "z06"), "10.0.0.2");  // by service name, label case
  EXPECT_EQ(cluster_nvmf_address(kCluster, "z10"), "10.0.0.2");  // through a group's pools
  EXPECT_EQ(cluster_nvmf_address(kCluster, "z11"), "10.0.0.2");  // through a group's services
  EXPECT_EQ(cluster_nvmf_address(kCluster, "z07"), std::nullopt);  // node without NVMf
  EXPECT_EQ(cluster_nvmf_address(kCluster, "z08"), std::nullopt);  // unknown node
  EXPECT_EQ(cluster_nvmf_address(kCluster, "zz"), std::nullopt);
  EXPECT_EQ(cluster_nvmf_address(kCluster, ""), std::nullopt);
}

TEST(ClusterConfig, ObjectsKeyedByNameAndOddShapes) {
  json keyed = json::parse(R"({
    "nodes": {"n1": {"interfaces": [{"label": "NVMf", "address": "10.1.1.1"}]}},
    "services": {"z05": {"node": "n1"}}
  })");
  EXPECT_EQ(cluster_nvmf_address(keyed, "z05"), "10.1.1.1");
  for (const char* odd : {R"([])", R"("text")", R"({"nodes": 5, "services": "x"})",
                          R"({"services": [{"pool": "z05", "node": 7}], "nodes": [{"name": 7}]})",
                          R"({"services": [{"pool": "z05", "node": "n1"}],
                              "nodes": [{"name": "n1", "interfaces": {"label": "NVMf"}}]})"})
    EXPECT_EQ(cluster_nvmf_address(json::parse(odd), "z05"), std::nullopt) << odd;
}

TEST(ClusterConfig, ReadFromTheHostFile) {
  TempRoot root;
  EXPECT_EQ(nvmf_address("z05"), std::nullopt);
  root.write(cluster_config_path, "{ not json");
  EXPECT_EQ(nvmf_address("z05"), std::nullopt);
  root.write(cluster_config_path, kCluster.dump());
  EXPECT_EQ(nvmf_address("z05"), "10.0.0.1");
}

}  // namespace
