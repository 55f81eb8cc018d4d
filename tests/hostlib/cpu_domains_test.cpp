#include "hostlib/cpu_domains.h"

#include <fstream>

#include <gtest/gtest.h>

#include "tests/hostlib/stand_in_root.h"

namespace hostlib_test {
namespace {

TEST(CpuDomains, AreTheHostsMemoryDomainsByFirstCpu) {
  StandInRoot root({});
  for (auto [node, cpus] : {std::pair{"node1", "8-11"}, {"node0", "0-7"}, {"node2", ""}}) {
    fs::create_directories(root.path() + "/sys/devices/system/node/" + node);
    std::ofstream(root.path() + "/sys/devices/system/node/" + node + "/cpulist") << cpus << "\n";
  }
  EXPECT_EQ(cpu_domains(), (std::map<int, int>{{0, 8}, {8, 4}}));
}

}  // namespace
}  // namespace hostlib_test
