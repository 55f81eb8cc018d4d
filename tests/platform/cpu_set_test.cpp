#include "platform/cpu_set.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_root.h"

namespace {

using test_support::TempRoot;

constexpr const char* kNodes = "/sys/devices/system/node";

TEST(MemoryDomains, OneDomainPerNodeWithCpus) {
  TempRoot root;
  root.write(std::string(kNodes) + "/node0/cpulist", "0-3\n");
  root.write(std::string(kNodes) + "/node1/cpulist", "4-7\n");
  root.write(std::string(kNodes) + "/node2/cpulist", "\n");        // memory only
  root.write(std::string(kNodes) + "/node3/cpulist", "8-9,12\n");  // with a gap
  root.write(std::string(kNodes) + "/node4/cpulist", "7-x\n");     // malformed
  root.write(std::string(kNodes) + "/possible", "0-4\n");          // not a node
  root.write(std::string(kNodes) + "/nodeX/cpulist", "20\n");      // not a node
  EXPECT_EQ(platform::memory_domains(), (std::map<int, int>{{0, 4}, {4, 4}, {8, 3}}));
  EXPECT_EQ(platform::memory_domain_cpus(),
            (std::vector<std::vector<int>>{{0, 1, 2, 3}, {4, 5, 6, 7}, {8, 9, 12}}));
}

TEST(MemoryDomains, WithoutTheTreeOneDomainOfAllCpus) {
  TempRoot root;
  auto domains = platform::memory_domains();
  ASSERT_EQ(domains.size(), 1u);
  EXPECT_EQ(domains.begin()->first, 0);
  EXPECT_EQ(domains.begin()->second, static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN)));

  root.write(std::string(kNodes) + "/node0/cpulist", "");  // a tree naming no CPU
  EXPECT_EQ(platform::memory_domains(), domains);
  EXPECT_EQ(platform::memory_domain_cpus().size(), 1u);
}

class BindCpus : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(sched_getaffinity(0, sizeof saved_, &saved_), 0); }
  void TearDown() override { sched_setaffinity(0, sizeof saved_, &saved_); }
  cpu_set_t saved_;
};

TEST_F(BindCpus, BindsEveryThreadOfTheProcessToExactlyTheSet) {
  // Two CPUs with a gap between them when there are three to choose from.
  std::vector<int> usable;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
    if (CPU_ISSET(cpu, &saved_)) usable.push_back(cpu);
  std::vector<int> wanted{usable[0]};
  if (usable.size() >= 3) wanted.push_back(usable[2]);

  std::atomic<bool> done{false};
  std::thread worker([&] {
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  std::string error;
  bool ok = platform::bind_process_cpus(::getpid(), wanted, &error);
  cpu_set_t main_set, worker_set;
  sched_getaffinity(0, sizeof main_set, &main_set);
  pthread_getaffinity_np(worker.native_handle(), sizeof worker_set, &worker_set);
  done = true;
  worker.join();
  ASSERT_TRUE(ok) << error;
  for (cpu_set_t* set : {&main_set, &worker_set}) {
    EXPECT_EQ(CPU_COUNT(set), static_cast<int>(wanted.size()));
    for (int cpu : wanted) EXPECT_TRUE(CPU_ISSET(cpu, set)) << cpu;
  }
}

TEST_F(BindCpus, RefusesBadRangesAndProcesses) {
  std::string error;
  EXPECT_FALSE(platform::bind_process_cpus(::getpid(), {-1, 0}, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(platform::bind_process_cpus(::getpid(), {}, &error));
  EXPECT_FALSE(platform::bind_process_cpus(::getpid(), {0, CPU_SETSIZE}, &error));
  EXPECT_FALSE(platform::bind_process_cpus(0, {0}, &error));
  error.clear();
  EXPECT_FALSE(platform::bind_process_cpus(4194304 + 1, {0}, &error));  // beyond pid_max
  EXPECT_FALSE(error.empty());
  // CPUs that are all offline or missing are refused by the kernel.
  EXPECT_FALSE(platform::bind_process_cpus(::getpid(), {CPU_SETSIZE - 2, CPU_SETSIZE - 1}, &error));
}

}  // namespace
