#include "hostlib/cpu_domains.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/support/temp_root.h"

namespace hostlib_test {
namespace {

TEST(CpuDomains, AreTheHostsMemoryDomainsByFirstCpu) {
  test_support::TempRoot root;
  for (auto [node, cpus] : {std::pair{"node1", "8-11"}, {"node0", "0-7"}, {"node2", ""}})
    root.write(std::string("/sys/devices/system/node/") + node + "/cpulist", std::string(cpus) + "\n");
  EXPECT_EQ(cpu_domains(), (std::map<int, int>{{0, 8}, {8, 4}}));
}

}  // namespace
}  // namespace hostlib_test
