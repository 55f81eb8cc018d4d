// Simulated hosts side by side on one machine stay apart: each gives its VMs
// console ports of its own, and a command of the real host (no host root)
// neither counts nor signals their processes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ipc/unique_fd.h"
#include "tests/integration/sandbox.h"
#include "tests/support/eventually.h"

namespace {

using test_support::eventually;
using testing::HasSubstr;
using testing::Not;

const std::string kSandbox = OMBRIX_SOURCE_DIR "/scripts/sandbox";
const std::string kOmbrix = OMBRIX_BUILD_DIR "/src/app/ombrix-vm";

// The console port scripts/sandbox printed for VM `id`; 0 when none.
int console_port(const std::string& made, const std::string& id) {
  std::smatch m;
  std::regex line("VM " + id + " \\(pool [^)]+\\): console port ([0-9]+) ");
  return std::regex_search(made, m, line) ? std::stoi(m[1]) : 0;
}

bool accepts(int port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

std::string read_all(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A simulated host that is not this process's root: made by the script, its
// commands run with its root in their environment, its processes ended with it.
class OtherHost {
 public:
  explicit OtherHost(const std::vector<std::string>& layout) : root_(false) {
    std::vector<std::string> args{root_.dir()};
    args.insert(args.end(), layout.begin(), layout.end());
    made_ = Sandbox::run_program(kSandbox, args);
  }
  ~OtherHost() { test_support::kill_processes_in(root_.dir()); }

  const test_support::RunResult& made() const { return made_; }
  std::string path(const std::string& real) const { return root_.path(real); }
  test_support::RunResult ombrix(const std::vector<std::string>& args) const {
    std::vector<std::string> all{"OMBRIX_ROOT=" + root_.dir(), kOmbrix};
    all.insert(all.end(), args.begin(), args.end());
    return Sandbox::run_program("/usr/bin/env", all);
  }

 private:
  test_support::TempRoot root_;
  test_support::RunResult made_;
};

// A command of the real host: no root in its environment.
test_support::RunResult real_host(const std::vector<std::string>& args) {
  std::vector<std::string> all{"-u", "OMBRIX_ROOT", kOmbrix};
  all.insert(all.end(), args.begin(), args.end());
  return Sandbox::run_program("/usr/bin/env", all);
}

template <typename Host>
bool service_ready(const Host& host) {
  return eventually([&] {
    return host.ombrix({"status"}).status == 0 &&
           read_all(host.path("/var/log/ombrix-vm.log")).find("Message queue '/ombrix-vm.mq' opened") !=
               std::string::npos;
  });
}

TEST(HostRoots, SimulatedHostsSideBySideStayApart) {
  Sandbox a({"--pool", "z05", "--vms", "1"});
  ASSERT_EQ(a.made().status, 0) << a.made().output;
  OtherHost b({"--pool", "z05", "--vms", "1"});
  ASSERT_EQ(b.made().status, 0) << b.made().output;

  // The same VM record in both; each host its own console port for it.
  const int port_a = console_port(a.made().output, "100001");
  const int port_b = console_port(b.made().output, "100001");
  EXPECT_EQ(port_a, platform::host_port(21001)) << a.made().output;
  ASSERT_NE(port_b, 0) << b.made().output;
  EXPECT_NE(port_a, port_b);

  ASSERT_EQ(a.ombrix({"start", "--daemon"}).status, 0);
  ASSERT_EQ(b.ombrix({"start", "--daemon"}).status, 0);
  ASSERT_TRUE(service_ready(a));
  ASSERT_TRUE(service_ready(b));

  // The real host runs no service: it neither sees nor stops theirs.
  auto status = real_host({"status"});
  EXPECT_EQ(status.status, 1) << status.output;
  EXPECT_THAT(status.output, Not(HasSubstr("running, pid="))) << status.output;
  auto stop = real_host({"stop"});
  EXPECT_EQ(stop.status, 0) << stop.output;
  EXPECT_THAT(stop.output, HasSubstr("Ombrix QTR is not running\n"));
  EXPECT_EQ(a.ombrix({"status"}).status, 0);
  EXPECT_EQ(b.ombrix({"status"}).status, 0);

  // Each host's VM with its console on its host's port.
  auto started_a = a.ombrix({"vm", "start", "--id=100001"});
  ASSERT_EQ(started_a.status, 0) << started_a.output;
  auto started_b = b.ombrix({"vm", "start", "--id=100001"});
  ASSERT_EQ(started_b.status, 0) << started_b.output;
  for (const auto& [log_path, port] : {std::pair{a.path("/var/log/ombrix-vm.log"), port_a},
                                       std::pair{b.path("/var/log/ombrix-vm.log"), port_b}}) {
    EXPECT_TRUE(eventually([&] {
      return read_all(log_path).find("RTTY: Listen socket at 127.0.0.1:" + std::to_string(port)) !=
             std::string::npos;
    })) << read_all(log_path);
    EXPECT_THAT(read_all(log_path), Not(HasSubstr("Can't binding socket")));
    EXPECT_TRUE(accepts(port)) << port;
  }
}

TEST(HostRoots, SandboxHelpIsUsageNotADirectory) {
  struct Case {
    std::vector<std::string> args;
    int status;
  } cases[] = {{{"--help"}, 0}, {{"-h"}, 0}, {{"--bogus"}, 2}, {{"--port"}, 2}};
  for (const auto& c : cases) {
    auto r = Sandbox::run_program(kSandbox, c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0];
    EXPECT_THAT(r.output, HasSubstr("usage: ")) << c.args[0];
    EXPECT_FALSE(std::filesystem::exists(c.args[0])) << c.args[0];
  }
}

}  // namespace
