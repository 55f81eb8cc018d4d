// The pool actions of the command line against a simulated host with the
// service running: pools of several VMs (a service VM, a VM the pool start
// leaves alone), every refusal, a second operation on a busy pool, a VM that
// fails inside the loop, and the pool records reaching the AMQP daemon.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "ipc/mq_send.h"
#include "pool/state/lock_file.h"
#include "pool/poolcli/pool_operations.h"
#include "tests/integration/sandbox.h"
#include "tests/support/eventually.h"

namespace {

namespace fs = std::filesystem;
using test_support::eventually;
using testing::HasSubstr;
using testing::MatchesRegex;

// Pool "z05": 100001 a service VM, 100002 and 100003 regular ones, 100004 not
// started by a pool start (admin_status 1). Pool "p2": 200001. Pool "bad": its
// state directory is a file.
class PoolCommandLine : public ::testing::Test {
 protected:
  PoolCommandLine()
      : host_({"--pool", "z05", "--vms", "4", "--pool", "p2", "--vms", "1", "--pool", "bad",
               "--vms", "1"}) {}

  void SetUp() override {
    ASSERT_EQ(host_.made().status, 0) << host_.made().output;
    edit_record("z05", "100001", "service", 10);
    edit_record("z05", "100004", "admin_status", 1);
    fs::remove_all(host_.path("/pools/bad/.vm_V4_state"));
    std::ofstream(host_.path("/pools/bad/.vm_V4_state")) << "";
    ASSERT_EQ(host_.ombrix({"start", "--daemon"}).status, 0);
    // Ready once both processes run and the daemon reads its queue.
    ASSERT_TRUE(eventually([&] {
      std::ifstream log(host_.path("/var/log/ombrix-vm.log"));
      std::string text(std::istreambuf_iterator<char>(log), {});
      return host_.ombrix({"status"}).status == 0 &&
             text.find("Message queue '/ombrix-vm.mq' opened") != std::string::npos;
    }));
  }

  void edit_record(const std::string& pool, const std::string& id, const std::string& key, int value) {
    std::string path = host_.path("/pools/" + pool + "/.vm_V4/000" + id + "/vm.json");
    nlohmann::json record = nlohmann::json::parse(std::ifstream(path));
    record[key] = value;
    std::ofstream(path) << record.dump();
  }
  void control(const std::string& id, const std::string& text) {
    std::ofstream(host_.path("/pools/z05/.vm_V4/000" + id + "/bhyve-sim.ctl")) << text;
  }

  test_support::RunResult pool(const std::vector<std::string>& args) {
    std::vector<std::string> all{"pool"};
    all.insert(all.end(), args.begin(), args.end());
    return host_.ombrix(all);
  }
  std::string status_of(const std::string& id) {
    std::string out = host_.ombrix({"vm", "status", "--id=" + id}).output;
    std::istringstream words(out);
    std::string vm, pool, status;
    words >> vm >> pool >> status;
    return status;
  }
  std::string pool_state(const std::string& name) { return pool({"status", "--id=" + name}).output; }
  std::string log() const {
    std::ifstream in(host_.path("/var/log/ombrix-vm.log"));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  Sandbox host_;
};

// The lines of one VM's start as the command line prints them.
std::string started(const std::string& id) {
  return "VM_id=" + id + " starting; fifo=/var/run/ombrix-vm-cli-fifo\\.[0-9]+\\." + id +
         "\nVM_id=" + id + " finish Status=1\nVM started; bhyve pid=[0-9]+\n";
}

TEST_F(PoolCommandLine, LifeOfAPool) {
  // Serially: the service VM first, then the regular ones in the list's order.
  auto start = pool({"start", "--id=z05", "--serial"});
  EXPECT_EQ(start.status, 0) << start.output;
  EXPECT_THAT(start.output, MatchesRegex("\\*\\*\\* Starting pool 'z05'\n\nStarting service VMs:\n" +
                                         started("100001") + "Starting regular VMs:\n" +
                                         started("100002") + started("100003") +
                                         "Pool 'z05' successfully started\n"));
  for (const char* id : {"100001", "100002", "100003"}) EXPECT_EQ(status_of(id), "Started") << id;
  EXPECT_EQ(status_of("100004"), "Offline");

  // 100003 suspended on its own: the pool's resume leaves it alone.
  ASSERT_EQ(host_.ombrix({"vm", "suspend", "--id=100003"}).status, 0);
  auto suspend = pool({"suspend", "--id=z05"});
  EXPECT_EQ(suspend.status, 0) << suspend.output;
  EXPECT_THAT(suspend.output, HasSubstr("Pool 'z05' successfully suspended\n"));
  EXPECT_EQ(pool_state("z05"), "z05  suspended\n");
  for (const char* id : {"100001", "100002", "100003"}) EXPECT_EQ(status_of(id), "Suspended") << id;
  EXPECT_EQ(pool({"list"}).output, "POOL STATUS\np2   online\nbad  unreadable (Not a directory)\n");

  auto resume = pool({"resume", "--id=z05"});
  EXPECT_EQ(resume.status, 0) << resume.output;
  EXPECT_THAT(resume.output, HasSubstr("VM_id=100003 * Suspended outside the pool. Skipped.\n"));
  EXPECT_EQ(status_of("100001"), "Started");
  EXPECT_EQ(status_of("100002"), "Started");
  EXPECT_EQ(status_of("100003"), "Suspended");
  EXPECT_EQ(pool_state("z05"), "z05  online\n");

  auto stop = pool({"stop", "--id=z05"});
  EXPECT_EQ(stop.status, 0) << stop.output;
  EXPECT_THAT(stop.output, HasSubstr("Pool 'z05' successfully stopped\n"));
  EXPECT_EQ(status_of("100001"), "Offline");
  EXPECT_EQ(status_of("100002"), "Offline");
  EXPECT_EQ(pool_state("z05"), "z05  offline\n");
  // A stopped pool is not listed; its VMs take no commands.
  EXPECT_EQ(pool({"list"}).output, "POOL STATUS\np2   online\nbad  unreadable (Not a directory)\n");
  EXPECT_EQ(host_.ombrix({"vm", "start", "--id=100002"}).status, 1);

  // Each pool record reached the AMQP daemon, which has no broker here.
  ASSERT_TRUE(eventually([&] { return log().find("AMQP Pool 'z05' control as 'stop'") != std::string::npos; }))
      << log();
  for (const char* word : {"start", "suspend", "resume"})
    EXPECT_THAT(log(), HasSubstr(std::string("AMQP Pool 'z05' control as '") + word + "'"));
}

TEST_F(PoolCommandLine, RefusalsChangeNothing) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string error;     // the last line on standard error ("" when none)
    std::string p2_after;  // pool status of p2 afterwards
  } cases[] = {
      {{"stop", "--id=p2"}, 0, "", "p2   offline\n"},
      {{"stop", "--id=p2"}, 1, "Error: Pool 'p2' already stopped\n", "p2   offline\n"},
      {{"suspend", "--id=p2"}, 1, "Error: Pool 'p2' was previously stopped. Should only be started\n", "p2   offline\n"},
      {{"resume", "--id=p2"}, 1, "Error: Pool 'p2' was previously been stopped. Should only be started\n", "p2   offline\n"},
      {{"start", "--id=p2"}, 0, "", "p2   online\n"},
      {{"resume", "--id=p2"}, 1,
       "Error: Pool 'p2' has not previously been suspended. Failed to resume. Current state=started\n",
       "p2   online\n"},
      {{"suspend", "--id=p2"}, 0, "", "p2   suspended\n"},
      {{"start", "--id=p2"}, 1, "Error: Pool 'p2' was previously been suspended. Should only be resumed\n", "p2   suspended\n"},
      {{"stop", "--id=p2"}, 1, "Error: Pool 'p2' was previously suspended. Should only be resumed\n", "p2   suspended\n"},
      {{"suspend", "--id=p2"}, 1, "Error: Pool 'p2' already suspended\n", "p2   suspended\n"},
      {{"resume", "--id=p2"}, 0, "", "p2   online\n"},
      {{"start", "--id=nope"}, 1, "Error: Pool not found: 'nope'\n", "p2   online\n"},
      {{"status", "--id=nope"}, 1, "Error: Pool not found: nope\n", "p2   online\n"},
      {{"stop", "--id=bad"}, 1,
       "Error: ### Pool 'bad' state directory '/pools/bad/.vm_V4_state' error: Not a directory\n",
       "p2   online\n"},
      {{"status", "--id=bad"}, 1,
       "bad  unreadable\nError: ### Pool 'bad' state directory '/pools/bad/.vm_V4_state' error: Not a directory\n",
       "p2   online\n"},
      {{"stop"}, 1, "Error: Missing parameter '--id' for implementation of 'stop'\n", "p2   online\n"},
  };
  for (const auto& c : cases) {
    auto r = pool(c.args);
    EXPECT_EQ(r.status, c.status) << testing::PrintToString(c.args) << r.output;
    if (!c.error.empty()) {
      EXPECT_THAT(r.output, HasSubstr(c.error)) << testing::PrintToString(c.args);
    }
    EXPECT_EQ(pool_state("p2"), c.p2_after) << testing::PrintToString(c.args);
  }
  EXPECT_FALSE(fs::exists(host_.path("/pools/p2/.vm_V4_state/.lock")));

  // Another process holds the pool's lock: busy, and the marks stay.
  LockFile held("/pools/p2/.vm_V4_state/.lock");
  ASSERT_EQ(held.try_lock(), 0);
  auto busy = pool({"stop", "--id=p2"});
  EXPECT_EQ(busy.status, 1);
  EXPECT_THAT(busy.output, HasSubstr("Error: Pool 'p2' is busy performing another operation\n"));
  EXPECT_EQ(pool_state("p2"), "p2   online\n");
}

TEST_F(PoolCommandLine, FailedVmIsReportedAndThePoolRestored) {
  ASSERT_EQ(pool({"start", "--id=z05"}).status, 0);
  // 100002 is busy with a command of its own (a stop whose hypervisor takes
  // its time to end), so the pool's stop of it is rejected.
  control("100002", "shutdown_delay_ms=60000\n");
  ASSERT_EQ(host_.ombrix({"vm", "restart", "--id=100002"}).status, 0);  // picks the control file up
  ASSERT_EQ(mq_send_vm_command("100002", "stop", "", 60), "");
  ASSERT_TRUE(eventually([&] { return log().find("command='stop' status=60") != std::string::npos; }));

  auto stop = pool({"stop", "--id=z05"});
  EXPECT_EQ(stop.status, 1) << stop.output;
  EXPECT_THAT(stop.output, HasSubstr("Pool 'z05' stopping failed\n"));
  EXPECT_THAT(stop.output, HasSubstr("Error: 100002\n"));
  EXPECT_EQ(status_of("100003"), "Offline");  // the others went on
  EXPECT_EQ(pool_state("z05"), "z05  online\n");  // marked started again
  // ... and its queue consumed again.
  ASSERT_TRUE(eventually([&] {
    std::string text = log();
    size_t stop_at = text.find("AMQP Pool 'z05' control as 'stop'");
    return stop_at != std::string::npos &&
           text.find("AMQP Pool 'z05' control as 'start'", stop_at) != std::string::npos;
  })) << log();

  // With takeback (the daemon's pool workers), the stopped VMs start again.
  ASSERT_EQ(pool({"start", "--id=z05"}).status, 0);
  for (const char* id : {"100001", "100003"}) ASSERT_EQ(status_of(id), "Started") << id;
  pool_op_result result = run_pool_stop("z05", "", true, true);
  EXPECT_EQ(result.code, -5);
  EXPECT_EQ(result.text, "100002");
  for (const char* id : {"100001", "100003"}) EXPECT_EQ(status_of(id), "Started") << id;
  EXPECT_EQ(pool_state("z05"), "z05  online\n");
}

}  // namespace
