// The vm actions and the inventory of the command line, run as a user runs
// them against a simulated host with the service running.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "bhwrap/checkpoint/checkpoint_format.h"
#include "tests/integration/sandbox.h"
#include "tests/support/child_process.h"
#include "tests/support/eventually.h"

namespace {

namespace fs = std::filesystem;
using test_support::eventually;
using testing::MatchesRegex;

// Pools "z05" (started, VMs 100001 to 100003), "off" (stopped, 200001),
// "sus" (suspended, 300001) and "bad" (its state directory is a file, 400001).
class VmCommandLine : public ::testing::Test {
 protected:
  VmCommandLine()
      : host_({"--pool", "z05", "--vms", "3", "--pool", "off", "--vms", "1", "--pool", "sus",
               "--vms", "1", "--pool", "bad", "--vms", "1"}) {}

  void SetUp() override {
    ASSERT_EQ(host_.made().status, 0) << host_.made().output;
    touch(host_.path("/pools/off/.vm_V4_state/.pool.stopped"));
    touch(host_.path("/pools/sus/.vm_V4_state/.pool.suspended"));
    fs::remove_all(host_.path("/pools/bad/.vm_V4_state"));
    touch(host_.path("/pools/bad/.vm_V4_state"));
  }

  void start_service() {
    ASSERT_EQ(host_.ombrix({"start", "--daemon"}).status, 0);
    // Ready once both processes run and the daemon reads its queue.
    ASSERT_TRUE(eventually([&] {
      std::ifstream log(host_.path("/var/log/ombrix-vm.log"));
      std::string text(std::istreambuf_iterator<char>(log), {});
      return host_.ombrix({"status"}).status == 0 &&
             text.find("Message queue '/ombrix-vm.mq' opened") != std::string::npos;
    }));
  }

  // VM 100002 looks suspended: its suspend volume holds a checkpoint image.
  void suspend_image_of_100002() {
    std::string page(checkpoint::ident);
    page.resize(checkpoint::page_size, '\0');
    touch(host_.path("/dev/zvol/z05/.vm_V4/000100002/snapshot.bvmss"), page);
  }

  static void touch(const std::string& path, const std::string& text = "") {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text;
  }

  test_support::RunResult vm(const std::string& action, const std::vector<std::string>& more = {}) {
    std::vector<std::string> args{"vm", action};
    args.insert(args.end(), more.begin(), more.end());
    return host_.ombrix(args);
  }

  bool no_fifo_left() const {
    for (const auto& entry : fs::directory_iterator(host_.path("/var/run")))
      if (entry.path().filename().string().starts_with("ombrix-vm-cli-fifo.")) return false;
    return true;
  }

  Sandbox host_;
};

struct Expect {
  std::vector<std::string> args;  // after "vm"
  int status;
  std::string output;  // standard error and output
};

void check(VmCommandLine* test, const std::vector<Expect>& cases,
           const std::function<test_support::RunResult(const std::vector<std::string>&)>& run) {
  for (const auto& c : cases) {
    auto r = run(c.args);
    EXPECT_EQ(r.status, c.status) << testing::PrintToString(c.args) << "\n" << r.output;
    EXPECT_EQ(r.output, c.output) << testing::PrintToString(c.args);
  }
}

TEST_F(VmCommandLine, ReadOnlyActionsAnswerFromTheHost) {
  start_service();
  suspend_image_of_100002();
  auto started = vm("start", {"--id=100001"});
  ASSERT_EQ(started.status, 0) << started.output;

  auto run = [&](const std::vector<std::string>& args) {
    std::vector<std::string> all{"vm"};
    all.insert(all.end(), args.begin(), args.end());
    return host_.ombrix(all);
  };
  check(this,
        {
            {{"list"}, 0,
             "### Pool 'bad' state directory error: Not a directory; its VMs are not reported\n"
             "VMID       POOL      STATUS  REMOTE  POOL_STATE\n"
             "000100001   z05     Started          started\n"
             "000100002   z05   Suspended          started\n"
             "000100003   z05     Offline          started\n"
             "000200001   off     Offline          stopped\n"
             "000300001   sus     Offline          suspended\n"},
            {{"list", "--id=7"}, 0,
             "### Pool 'bad' state directory error: Not a directory; its VMs are not reported\n"
             "VMID       POOL      STATUS  REMOTE  POOL_STATE\n"
             "000100001   z05     Started          started\n"
             "000100002   z05   Suspended          started\n"
             "000100003   z05     Offline          started\n"
             "000200001   off     Offline          stopped\n"
             "000300001   sus     Offline          suspended\n"},
            {{"status", "--id=100001"}, 0, "100001      z05     Started          started\n"},
            {{"status", "--id=100002"}, 0, "100002      z05   Suspended          started\n"},
            {{"status", "--id=100003"}, 0, "100003      z05     Offline          started\n"},
            {{"status", "--id=200001"}, 0, "200001      off     Offline          stopped\n"},
            // The id as the listing writes it names the same VM.
            {{"status", "--id=000100001"}, 0, "100001      z05     Started          started\n"},
            {{"config", "--id=000100003"}, 1, "VM id=100003 not runned\n"},
            {{"nice", "--id=000100003"}, 1, "100003    : is not running\n"},
            {{"start", "--id=000200001"}, 1,
             "Error: Pool 'off' is stopped. Should only be started (use 'ombrix-vm pool start "
             "--id=off')\n"},
            {{"status", "--id=000000999"}, 1, "Error: VM does not exist: 999\n"},
            {{"status", "--id=400001"}, 1, "Error: VM does not exist: 400001\n"},
            {{"status", "--id=999"}, 1, "Error: VM does not exist: 999\n"},
            {{"status", "--id=../100001"}, 1, "Error: Invalid VM id '../100001'\n"},
            {{"status"}, 1, "Missing parameter '--id' for implementation of 'status'\n"},
            {{"nice", "--id=100003"}, 1, "100003    : is not running\n"},
            {{"nice", "--id=999"}, 1, "999       : does not exist\n"},
            {{"config", "--id=100003"}, 1, "VM id=100003 not runned\n"},
            {{"vcpuclass", "--id=200001"}, 1, "200001    : is not running\n"},
            {{"setvcpuclass", "--id=100003", "--value=1"}, 1, "100003    : is not running\n"},
            {{"unshare", "--id=100003"}, 1, "Pool 'z05': No IP-interface with NVMf-label\n"},
            // Pools that take no commands, with what to run instead.
            {{"start", "--id=200001"}, 1,
             "Error: Pool 'off' is stopped. Should only be started (use 'ombrix-vm pool start "
             "--id=off')\n"},
            {{"stop", "--id=300001"}, 1,
             "Error: Pool 'sus' is suspended. Should only be resumed (use 'ombrix-vm pool resume "
             "--id=sus')\n"},
            {{"setnice", "--id=300001", "--value=1"}, 1,
             "Error: Pool 'sus' is suspended. Should only be resumed (use 'ombrix-vm pool resume "
             "--id=sus')\n"},
        },
        run);

  // The hypervisor's priority and vCPU class of the running VM; the stand-in
  // starts it with the record's values (10 and 3).
  auto pids = [&](const std::string& rest) {
    return "VM id=100001 bhyve_pid=[0-9]+ wrapper_pid=[0-9]+ " + rest + "\n";
  };
  struct Regex {
    std::vector<std::string> args;
    int status;
    std::string pattern;
  } regex_cases[] = {
      {{"nice"}, 0, pids("CPU_priority=10")},
      {{"setnice", "--value=-20"}, 0, pids("CPU_priority=-20")},
      {{"setnice", "--value=20"}, 0, pids("CPU_priority=20")},  // Linux keeps 19 of it
      {{"setnice", "--value=15"}, 0, pids("CPU_priority=15")},
      {{"nice"}, 0, pids("CPU_priority=15")},
      {{"setnice", "--value=21"}, 1, "\nWrong CPU priority value '21'. Available values: \\[-20:20\\]\n"},
      {{"setnice", "--value=-21"}, 1, "\nWrong CPU priority value '-21'. Available values: \\[-20:20\\]\n"},
      {{"setnice", "--value=5a"}, 1, "\nWrong CPU priority value '5a'. Available values: \\[-20:20\\]\n"},
      {{"setnice"}, 1, "\nWrong CPU priority value ''. Available values: \\[-20:20\\]\n"},
      {{"nice"}, 0, pids("CPU_priority=15")},
      {{"vcpuclass"}, 0, pids("vCPU_class=3")},
      {{"setvcpuclass", "--value=9"}, 0, pids("vCPU_class=9")},
      {{"vcpuclass"}, 0, pids("vCPU_class=9")},
      {{"setvcpuclass", "--value=10"}, 1, "\nWrong vCPU class value '10'. Available values: \\[0:9\\]\n"},
      {{"setvcpuclass", "--value=x"}, 1, "\nWrong vCPU class value 'x'. Available values: \\[0:9\\]\n"},
      {{"vcpuclass"}, 0, pids("vCPU_class=9")},
  };
  for (const auto& c : regex_cases) {
    auto r = vm(c.args[0], [&] {
      std::vector<std::string> more(c.args.begin() + 1, c.args.end());
      more.push_back("--id=100001");
      return more;
    }());
    EXPECT_EQ(r.status, c.status) << testing::PrintToString(c.args) << r.output;
    EXPECT_THAT(r.output, MatchesRegex(c.pattern)) << testing::PrintToString(c.args);
  }

  auto config = vm("config", {"--id=100001"});
  EXPECT_EQ(config.status, 0);
  EXPECT_THAT(config.output, testing::HasSubstr("\n                name : 100001\n"));
  EXPECT_THAT(config.output, testing::HasSubstr("\npci.0.5.0.sectorsize : 512/4096\n"));

  // The inventory, read back as JSON.
  auto inventory = host_.ombrix({"inventory"});
  ASSERT_EQ(inventory.status, 0);
  nlohmann::json j = nlohmann::json::parse(inventory.output);
  EXPECT_EQ(j["localhost"]["z05"]["state"], "started");
  EXPECT_EQ(j["localhost"]["z05"]["VMs"],
            (nlohmann::json{{"100001", "started"}, {"100002", "suspended"}, {"100003", "offline"}}));
  EXPECT_EQ(j["localhost"]["off"]["state"], "stopped");
  EXPECT_EQ(j["localhost"]["off"]["VMs"], nlohmann::json::object());
  EXPECT_EQ(j["localhost"]["sus"]["state"], "suspended");
  EXPECT_EQ(j["localhost"]["bad"]["state"], "unreadable");
  EXPECT_TRUE(no_fifo_left());
}

TEST_F(VmCommandLine, ChangingActionsWaitForTheDaemon) {
  start_service();
  auto fifo = [](const char* verb) {
    return std::string("VM_id=100003 ") + verb +
           "; fifo=/var/run/ombrix-vm-cli-fifo\\.[0-9]+\\.100003\n";
  };
  struct Case {
    std::string action;
    std::string pattern;
    std::string listed;  // the VM's status in the listing afterwards
  } cases[] = {
      {"start", fifo("starting") + "VM_id=100003 finish Status=1\nVM started; bhyve pid=[0-9]+\n", "Started"},
      {"pause", fifo("pausing") + "VM_id=100003 finish Status=1\nVM paused\n", "Started"},
      {"unpause", fifo("unpausing") + "VM_id=100003 finish Status=1\nVM unpaused\n", "Started"},
      {"suspend", fifo("suspending") + "VM_id=100003 finish Status=1\nVM suspended\n", "Suspended"},
      {"resume", fifo("resumption") + "VM_id=100003 finish Status=1\nVM resumed; bhyve pid=[0-9]+\n", "Started"},
      {"stop", fifo("stopping") + "VM_id=100003 finish Status=1\nVM stopped\n", "Offline"},
      // A second stop is no error; a pause of a stopped VM is.
      {"stop", fifo("stopping") + "VM_id=100003 finish Status=1\nVM is not running\n", "Offline"},
      {"pause", fifo("pausing") + "VM_id=100003 finish Status=-[0-9]+\n.*\n", "Offline"},
  };
  for (const auto& c : cases) {
    auto r = vm(c.action, {"--id=100003"});
    EXPECT_EQ(r.status, c.pattern.find("Status=1\n") != std::string::npos ? 0 : 1) << c.action << r.output;
    EXPECT_THAT(r.output, MatchesRegex(c.pattern)) << c.action;
    auto status = vm("status", {"--id=100003"});
    EXPECT_THAT(status.output, testing::HasSubstr(" " + c.listed + " ")) << c.action;
    EXPECT_TRUE(no_fifo_left()) << c.action;
  }

  // Changing actions take the listed form too.
  auto padded = vm("start", {"--id=000100003"});
  EXPECT_EQ(padded.status, 0) << padded.output;
  EXPECT_THAT(padded.output, testing::HasSubstr("VM_id=100003 finish Status=1\n"));

  // The service's and the wrapper's log lines, whole, in the host's log file.
  std::ifstream log(host_.path("/var/log/ombrix-vm.log"));
  std::set<std::string> pids;
  bool start_logged = false;
  for (std::string line; std::getline(log, line);) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, std::regex(R"([A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d ombrix-vm\[(\d+)\]: .*)")))
        << line;
    pids.insert(m[1]);
    start_logged |= line.find(">>> VM_id=100003 command='start'") != std::string::npos;
  }
  EXPECT_TRUE(start_logged);
  EXPECT_GE(pids.size(), 3u);  // daemon, AMQP daemon, wrappers
}

TEST_F(VmCommandLine, InterruptedWaitLeavesNoFifo) {
  start_service();
  struct Case {
    int signal;
    std::string vm_id;
  } cases[] = {{SIGINT, "100002"}, {SIGTERM, "100003"}};
  for (const auto& [signal, vm_id] : cases) {
    // The hypervisor never becomes ready: the start is not answered.
    std::ofstream(host_.path("/pools/z05/.vm_V4/000" + vm_id + "/bhyve-sim.ctl")) << "never_ready=1\n";
    test_support::ChildProcess cli(OMBRIX_BUILD_DIR "/src/app/ombrix-vm",
                                   {"ombrix-vm", "vm", "start", "--id=" + vm_id});
    ASSERT_TRUE(eventually([&] { return !no_fifo_left(); }));
    cli.signal(signal);
    auto status = cli.wait_status();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == signal);
    EXPECT_TRUE(no_fifo_left());
  }
}

// A daemon that ends while commands wait for its answers ends the waits: the
// commands fail and say why, the pool operation gives its lock back.
TEST_F(VmCommandLine, DaemonEndingEndsTheWaits) {
  start_service();
  // The hypervisors never become ready: the starts are not answered.
  for (const char* id : {"100002", "100003"})
    std::ofstream(host_.path(std::string("/pools/z05/.vm_V4/000") + id + "/bhyve-sim.ctl")) << "never_ready=1\n";
  auto run = [&](const std::string& out, std::vector<std::string> args) {
    args.insert(args.begin(), {"sh", "-c", "exec \"$0\" \"$@\" >" + out + " 2>&1",
                               OMBRIX_BUILD_DIR "/src/app/ombrix-vm"});
    return std::make_unique<test_support::ChildProcess>("/bin/sh", args);
  };
  auto waiting_for = [&](const std::string& id) {
    return eventually([&] {
      for (const auto& entry : fs::directory_iterator(host_.path("/var/run")))
        if (entry.path().filename().string().starts_with("ombrix-vm-cli-fifo.") &&
            entry.path().filename().string().ends_with("." + id))
          return true;
      return false;
    });
  };
  // The vm command waits for 100002; the pool start for 100003 (100002 is
  // busy, so the daemon rejects the pool's start of it).
  const std::string vm_out = host_.path("/vm.out"), pool_out = host_.path("/pool.out");
  auto vm_start = run(vm_out, {"vm", "start", "--id=100002"});
  ASSERT_TRUE(waiting_for("100002"));
  auto pool_start = run(pool_out, {"pool", "start", "--id=z05"});
  ASSERT_TRUE(waiting_for("100003"));
  ASSERT_TRUE(fs::exists(host_.path("/pools/z05/.vm_V4_state/.lock")));
  // The daemon, not a child it forked a moment ago that still carries its title.
  auto titled = find_titled_processes(daemon_title);
  std::vector<int32_t> daemons;
  for (int32_t pid : titled)
    if (std::find(titled.begin(), titled.end(), platform::process_info(pid).ppid) == titled.end())
      daemons.push_back(pid);
  ASSERT_EQ(daemons.size(), 1u);
  ::kill(daemons[0], SIGKILL);

  struct Case {
    test_support::ChildProcess* child;
    std::string out, vm_id;
  } cases[] = {{vm_start.get(), vm_out, "100002"}, {pool_start.get(), pool_out, "100003"}};
  for (const auto& c : cases) {
    auto status = c.child->wait_status();
    ASSERT_TRUE(status) << c.out;
    std::ifstream in(c.out);
    std::string text(std::istreambuf_iterator<char>(in), {});
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << text;
    EXPECT_THAT(text, MatchesRegex("(.|\n)*### The daemon \\(pid [0-9]+\\) ended without answering: "
                                   "VM_id=" + c.vm_id + " command='start'(.|\n)*"));
  }
  EXPECT_FALSE(fs::exists(host_.path("/pools/z05/.vm_V4_state/.lock")));
  EXPECT_TRUE(no_fifo_left());
}

TEST_F(VmCommandLine, WithoutTheServiceChangesFailAtOnce) {
  for (const std::string action : {"start", "stop", "restart", "suspend", "resume", "pause", "unpause"}) {
    auto r = vm(action, {"--id=100001"});
    EXPECT_EQ(r.status, 1) << action;
    EXPECT_THAT(r.output, testing::HasSubstr("### MQ send error: MQ not opened; VM_id=100001"))
        << r.output;
  }
  EXPECT_TRUE(no_fifo_left());
}

}  // namespace
