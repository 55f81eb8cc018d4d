#include "platform/cpu_set.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <thread>

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
}

TEST(MemoryDomains, WithoutTheTreeOneDomainOfAllCpus) {
  TempRoot root;
  auto domains = platform::memory_domains();
  ASSERT_EQ(domains.size(), 1u);
  EXPECT_EQ(domains.begin()->first, 0);
  EXPECT_EQ(domains.begin()->second, static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN)));

  root.write(std::string(kNodes) + "/node0/cpulist", "");  // a tree naming no CPU
  EXPECT_EQ(platform::memory_domains(), domains);
}

class BindCpus : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(sched_getaffinity(0, sizeof saved_, &saved_), 0); }
  void TearDown() override { sched_setaffinity(0, sizeof saved_, &saved_); }
  cpu_set_t saved_;
};

TEST_F(BindCpus, BindsEveryThreadOfTheProcess) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  std::string error;
  bool ok = platform::bind_process_cpus(::getpid(), 0, 1, &error);
  cpu_set_t main_set, worker_set;
  sched_getaffinity(0, sizeof main_set, &main_set);
  pthread_getaffinity_np(worker.native_handle(), sizeof worker_set, &worker_set);
  done = true;
  worker.join();
  ASSERT_TRUE(ok) << error;
  EXPECT_EQ(CPU_COUNT(&main_set), 1);
  EXPECT_TRUE(CPU_ISSET(0, &main_set));
  EXPECT_EQ(CPU_COUNT(&worker_set), 1);
  EXPECT_TRUE(CPU_ISSET(0, &worker_set));
}

TEST_F(BindCpus, RefusesBadRangesAndProcesses) {
  std::string error;
  EXPECT_FALSE(platform::bind_process_cpus(::getpid(), -1, 2, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(platform::bind_process_cpus(::getpid(), 0, 0, &error));
  EXPECT_FALSE(platform::bind_process_cpus(::getpid(), CPU_SETSIZE - 1, 2, &error));
  EXPECT_FALSE(platform::bind_process_cpus(0, 0, 1, &error));
  error.clear();
  EXPECT_FALSE(platform::bind_process_cpus(4194304 + 1, 0, 1, &error));  // beyond pid_max
  EXPECT_FALSE(error.empty());
  // A range of CPUs that are all offline or missing is refused by the kernel.
  EXPECT_FALSE(platform::bind_process_cpus(::getpid(), CPU_SETSIZE - 2, 2, &error));
}

}  // namespace
