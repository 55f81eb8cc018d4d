// The stand-in hypervisor, run as a process under a temporary host root.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include "platform/sysctl.h"
#include "sim/include/vmm_sim_protocol.h"
#include "tests/sim/bhyve_runner.h"

namespace bhyve_test {
namespace {

constexpr const char* kVm = "vm7";
constexpr const char* kUuid = "6d0ab1c4-2f3e-5a77-9c21-0e8d4b6f1a30";
constexpr const char* kBootRom = "/usr/local/share/uefi-firmware/BHYVE_UEFI.fd";
constexpr const char* kImage = "/dev/zvol/z05/vm7/snapshot.bvmss";
constexpr int kSignalled = -1000;  // BhyveProcess::exit_code of a signal death

// The line the wrapper forms for a VM with a topology, a boot CD, the seed
// image, every kind of disk, a port with several MACs and addresses, a
// passthru device, the balloon, the frame buffer and both serial ports.
std::vector<std::string> representative_line() {
  return {"-A", "-H", "-S", "-c", "sockets=2,cores=2,threads=2", "-m", "2147483648",
          "-s", "0,hostbridge",
          "-s", "1,ahci-cd,/pools/z05/iso/install.iso,ro",
          "-s", "4,ahci-cd,/pools/z05/vm7/seed.iso,ro",
          "-s", "5,virtio-blk,/dev/zvol/z05/vm7/disk0,sectorsize=512/4096,iops_limit=500",
          "-s", "6,nvme,/dev/zvol/z05/vm7/disk1,sectsz=512,mbps_limit=20",
          "-s", "7:0,nvme,nvmf,trtype=tcp,adrfam=IPv4,traddr=10.0.0.2,trsvcid=4420,"
                "subnqn=nqn.2024-01.io.ombrix:vm7-7,dpdk_core_mask=0x1",
          "-s", "8,virtio-net,netgraph,socket=vm7_11,path=vsw0:,hook=vmlink11,peerhook=link11,"
                "mac=02:00:00:00:07:01,mac_list=02:00:00:00:07:02;02:00:00:00:07:03,"
                "ip_filter_disable=1,ip=10.1.0.5;10.1.0.6,ratelimit=100,"
                "ipv6_accept_net=\"fd00::5/64,fd00::6/64\"",
          "-s", "9,passthru,3/0/1",
          "-s", "10,virtio-balloon",
          "-s", "28,virtio-rnd",
          "-s", "29,fbuf,tcp=0.0.0.0:5907,w=1024,h=768",
          "-s", "30,xhci,tablet",
          "-s", "31,lpc",
          "-l", "com1,/dev/nmdm7A",
          "-l", "com2,/dev/nmdm7ciA",
          "-l", std::string("bootrom,") + kBootRom,
          "-o", "pci.0.7.0.trsvcid=4421",
          "-U", kUuid, kVm};
}

std::vector<std::string> minimal_line(const std::string& vm = kVm) {
  return {"-c", "1", "-m", "256M", "-s", "0,hostbridge", "-s", "31,lpc",
          "-l", "com1,/dev/nmdm7A", "-l", std::string("bootrom,") + kBootRom, "-U", kUuid, vm};
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class BhyveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lay_out(root_);
    root_.write("bhyve-sim.ctl", "ready_delay_ms=10\n");
  }
  void TearDown() override {
    processes_.clear();
    unlink_vm_shm(kVm);
  }

  // Serial devices and the boot ROM where the line names them.
  static void lay_out(const TempRoot& root) {
    root.write("/dev/nmdm7A", "");
    root.write("/dev/nmdm7ciA", "");
    root.write(kBootRom, "firmware");
  }

  BhyveProcess& start(const std::vector<std::string>& args, StartOptions options = {}) {
    processes_.push_back(
        std::make_unique<BhyveProcess>(root_.vm_dir(), SIM_BHYVE, args, std::move(options)));
    return *processes_.back();
  }

  static bool ready(const std::string& vm = kVm) {
    return eventually([&] { return vmm_request(vm, "PING") == "OK 0"; });
  }

  std::string config(const std::string& vm = kVm) {
    return vmm_sim::unescape(vmm_request(vm, "CONFIG"));
  }

  TempRoot root_;
  std::vector<std::unique_ptr<BhyveProcess>> processes_;
};

TEST_F(BhyveTest, RunsTheWrappersLineTracesItAndIsDrivenThroughItsNode) {
  BhyveProcess& bhyve = start(representative_line(), {.nice = 5, .only_cpu = 0, .root = ""});
  ASSERT_TRUE(ready()) << bhyve.log();
  EXPECT_EQ(vmm_request(kVm, "STATE"), "OK running");

  std::string trace = root_.read("bhyve-sim.trace");
  std::string expected_args = "arg=/usr/sbin/bhyve\n";
  for (const auto& a : representative_line()) expected_args += "arg=" + a + "\n";
  for (const std::string& line : {expected_args, fmt::format("pid={}\n", bhyve.pid()),
                                  "cwd=" + root_.vm_dir() + "\n", std::string("nice=5\n"),
                                  std::string("cpus=0\n")})
    EXPECT_TRUE(contains(trace, line)) << line << " in\n" << trace;

  std::string c = config();
  for (const char* line : {
           "name=vm7\n", "uuid=6d0ab1c4-2f3e-5a77-9c21-0e8d4b6f1a30\n", "cpus=8\n",
           "sockets=2\n", "memory.size=2147483648\n", "memory.wired=true\n",
           "pci.0.1.0.path=/pools/z05/iso/install.iso\n", "pci.0.1.0.ro=true\n",
           "pci.0.5.0.sectorsize=512/4096\n", "pci.0.6.0.device=nvme\n",
           "pci.0.7.0.nvmf=true\n", "pci.0.7.0.trsvcid=4421\n", "pci.0.8.0.backend=netgraph\n",
           "pci.0.8.0.mac_list=02:00:00:00:07:02;02:00:00:00:07:03\n",
           "pci.0.8.0.ipv6_accept_net=fd00::5/64,fd00::6/64\n", "pci.0.9.0.pptdev=3/0/1\n",
           "pci.0.29.0.tcp=0.0.0.0:5907\n", "lpc.com2.path=/dev/nmdm7ciA\n"})
    EXPECT_TRUE(contains(c, line)) << line << " in\n" << c;
  EXPECT_TRUE(contains(shm_text(kVm, "devices"), "pci.0.8.0.device=virtio-net\n"));
  EXPECT_TRUE(shm_exists(kVm, "reconfig"));

  EXPECT_EQ(vmm_request(kVm, "PAUSE"), "OK");
  EXPECT_EQ(vmm_request(kVm, "STATE"), "OK paused");
  EXPECT_EQ(vmm_request(kVm, "PING"), "OK 0");
  EXPECT_EQ(vmm_request(kVm, "RESUME"), "OK");
  EXPECT_EQ(vmm_request(kVm, "STATE"), "OK running");
  std::string settings = "pci.0.8.0.ratelimit=50\npci.0.5.0.iops_limit=900\n";
  EXPECT_EQ(vmm_request(kVm, "RECONFIG " + vmm_sim::escape(settings)), "OK");
  EXPECT_TRUE(contains(config(), "pci.0.5.0.iops_limit=900\n"));
  EXPECT_TRUE(contains(config(), "pci.0.8.0.ratelimit=50\n"));
  EXPECT_EQ(shm_text(kVm, "reconfig"), settings);
  // A malformed line refuses the whole change.
  EXPECT_EQ(vmm_request(kVm, "RECONFIG " + vmm_sim::escape("pci.0.8.0.ratelimit=70\nbroken"))
                .rfind("ERR 22 ", 0),
            0u);
  EXPECT_TRUE(contains(config(), "pci.0.8.0.ratelimit=50\n"));
  EXPECT_EQ(vmm_request(kVm, "FROB").rfind("ERR 22 ", 0), 0u);
  EXPECT_EQ(vmm_request(kVm, "VCPUS"), "OK 8");
  EXPECT_EQ(vmm_request(kVm, "STATS 8").rfind("ERR 22 ", 0), 0u);

  bhyve.signal(SIGTERM);
  EXPECT_EQ(bhyve.exit_code(), 1);
  EXPECT_FALSE(shm_exists(kVm, "devices"));
  EXPECT_FALSE(shm_exists(kVm, "reconfig"));
  EXPECT_FALSE(fs::exists(root_.path("/dev/vmm/vm7")));
}

TEST_F(BhyveTest, AcceptsOtherOptionForms) {
  BhyveProcess& bhyve = start({"-AH", "-c4", "-m", "2G", "-s", "0:0,hostbridge", "-s",
                               "0:31:0,lpc", "-l", "com1,/dev/nmdm7A", "-o", "x.y=a=b", "--",
                               kVm});
  ASSERT_TRUE(ready()) << bhyve.log();
  std::string c = config();
  EXPECT_TRUE(contains(c, "cpus=4\nlpc.com1.path")) << c;
  EXPECT_TRUE(contains(c, "memory.size=2147483648\n")) << c;
  EXPECT_TRUE(contains(c, "x.y=a=b\n")) << c;
  EXPECT_TRUE(contains(c, "x86.vmexit_on_hlt=true\n")) << c;
}

TEST_F(BhyveTest, RefusesMalformedLinesWithTheUsageStatus) {
  const std::vector<std::vector<std::string>> bad = {
      {}, {"vm7", "vm8"}, {"a/b"},  // no VM name, two names, not a VM name
      {"-c", "", kVm}, {"-c", "0", kVm}, {"-c", "sockets=2,cores=x", kVm},
      {"-c"},  // option without its value
      {"-m", "12Q", kVm},
      {"-s", "32,hostbridge", kVm},  // slot out of range
      {"-s", "3,floppy,/x", kVm},    // unknown emulation
      {"-s", "3,virtio-blk", kVm},   // disk without a path
      {"-s", "3,virtio-net", kVm},   // port without a backend
      {"-s", "3,virtio-net,netgraph,path=a:,hook=h,mac=zz", kVm},
      {"-s", "3,virtio-net,netgraph,path=a:,hook=h,ipv6_accept_net=\"a,b", kVm},
      {"-s", "3,nvme,nvmf,trtype=tcp,traddr=1.2.3.4", kVm},  // no subsystem
      {"-s", "3,passthru,3/0", kVm},
      {"-s", "29,fbuf,w=800", kVm},  // frame buffer without tcp
      {"-s", "3,virtio-rnd", "-s", "3,virtio-rnd", kVm},  // slot used twice
      {"-l", "com5,/dev/x", kVm}, {"-l", "com1", kVm},
      {"-l", "com1,/dev/nmdm7A", kVm},  // serial port without lpc
      {"-o", "novalue", kVm}, {"-U", "not-a-uuid", kVm},
      {"-r", "/x", "-L", "5000", kVm}, {"-L", "70000", kVm}, {"-x", kVm},
  };
  for (const auto& args : bad) {
    BhyveProcess& bhyve = start(args);
    std::string line = fmt::format("{}", fmt::join(args, " "));
    EXPECT_EQ(bhyve.exit_code(), 4) << line;
    EXPECT_TRUE(contains(bhyve.log(), "usage: bhyve")) << line;
  }
  EXPECT_FALSE(fs::exists(root_.path("/dev/vmm/vm7")));
}

TEST_F(BhyveTest, EndsWithTheStatusTheControlFileOrItsStartCallsFor) {
  root_.write("guest.script", "send com3 hello\n");  // a port that is not open
  root_.write(kImage, std::string(8192, 'x'));
  struct Case {
    std::string control;
    int status;
    std::string log = "";
    std::string missing = "";  // a file removed before the start
    std::vector<std::string> args = minimal_line();
  };
  const std::vector<Case> cases = {
      {"ready_delay_ms=1\nreset_after_ms=30\n", 0},
      {"exit_after_ms=20\nexit_status=7\n", 7},
      {"exit_status=2\n", 2},
      {"boot_rom_fail=1\n", 11},
      {"crash_after_ms=20\n", kSignalled - SIGSEGV},
      {"no_such_key=1\n", 5},
      {"ready_delay_ms=soon\n", 5},
      {"guest_script=guest.script\n", 5, "com3"},
      {"", 5, "com1: cannot open " + root_.path("/dev/nmdm7A"), "/dev/nmdm7A"},
      {"", 11, kBootRom, kBootRom},  // fails verification
      {"", 5, "not a checkpoint image", "", {"-r", kImage, kVm}},
      {"", 5, "", "", {"-r", "/dev/zvol/z05/none/snapshot.bvmss", kVm}},
  };
  for (const auto& c : cases) {
    root_.write("bhyve-sim.ctl", c.control);
    if (!c.missing.empty()) fs::remove(root_.path(c.missing));
    BhyveProcess& bhyve = start(c.args);
    EXPECT_EQ(bhyve.exit_code(), c.status) << c.control << c.missing << bhyve.log();
    EXPECT_TRUE(contains(bhyve.log(), c.log)) << c.control << c.missing << bhyve.log();
    unlink_vm_shm(kVm);
    lay_out(root_);
  }
}

TEST_F(BhyveTest, AResetAfterTheStartWasSeenWaitsForAPing) {
  root_.write("bhyve-sim.ctl", "ready_delay_ms=1\nreset_after_seen_ms=0\n");
  BhyveProcess& bhyve = start(minimal_line());
  // Running but never pinged: the guest keeps running.
  ASSERT_TRUE(eventually([] { return vmm_request(kVm, "STATE") == "OK running"; })) << bhyve.log();
  EXPECT_TRUE(bhyve.running());
  EXPECT_EQ(vmm_request(kVm, "PING"), "OK 0");
  EXPECT_EQ(bhyve.exit_code(), 0) << bhyve.log();
  unlink_vm_shm(kVm);
}

TEST_F(BhyveTest, SignalsEndTheVm) {
  {
    BhyveProcess& bhyve = start(minimal_line());
    ASSERT_TRUE(ready()) << bhyve.log();
    bhyve.signal(SIGKILL);
    EXPECT_EQ(bhyve.exit_code(), kSignalled - SIGKILL);
    // A killed hypervisor leaves its objects for the wrapper to remove.
    EXPECT_TRUE(shm_exists(kVm, "devices"));
    unlink_vm_shm(kVm);
  }
  {
    // A stale node from the killed run does not stop the next start; a
    // second start while it runs is refused.
    root_.write("bhyve-sim.ctl", "ready_delay_ms=1\nignore_sigterm=1\n");
    BhyveProcess& bhyve = start(minimal_line());
    ASSERT_TRUE(ready()) << bhyve.log();
    BhyveProcess& second = start(minimal_line());
    EXPECT_EQ(second.exit_code(), 5);
    EXPECT_TRUE(contains(second.log(), "already running")) << second.log();
    bhyve.signal(SIGTERM);
    ASSERT_TRUE(eventually([&] { return contains(bhyve.log(), "SIGTERM ignored"); }));
    EXPECT_TRUE(bhyve.running());
    EXPECT_EQ(vmm_request(kVm, "PING"), "OK 0");
    bhyve.signal(SIGKILL);
    EXPECT_EQ(bhyve.exit_code(), kSignalled - SIGKILL);
  }
}

TEST_F(BhyveTest, AnswersBootingUntilReadyAndKeepsTheVcpuClass) {
  root_.write("bhyve-sim.ctl", "never_ready=1\nvcpu_class=3\n");
  BhyveProcess& bhyve = start(minimal_line());
  ASSERT_TRUE(eventually([] { return vmm_request(kVm, "PING") == "OK 2"; })) << bhyve.log();
  EXPECT_EQ(vmm_request(kVm, "STATE"), "OK booting");
  EXPECT_EQ(vmm_request(kVm, "PAUSE"), fmt::format("ERR {} the VM is not running", EBUSY));
  EXPECT_EQ(vmm_request(kVm, "GET_VCPU_CLASS"), "OK 3");
  EXPECT_EQ(vmm_request(kVm, "SET_VCPU_CLASS 9"), "OK");
  EXPECT_EQ(vmm_request(kVm, "SET_VCPU_CLASS 10").rfind("ERR 22 ", 0), 0u);
  EXPECT_EQ(vmm_request(kVm, "SET_VCPU_CLASS -1").rfind("ERR 22 ", 0), 0u);
  EXPECT_EQ(vmm_request(kVm, "GET_VCPU_CLASS"), "OK 9");
  EXPECT_EQ(vmm_request(kVm, "PING"), "OK 2");
  bhyve.signal(SIGTERM);
  EXPECT_EQ(bhyve.exit_code(), 1);
}

// A pseudo-terminal whose slave stands at a null-modem path of the root.
class Pty {
 public:
  Pty(const TempRoot& root, const std::string& real_path) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(master_);
    ::unlockpt(master_);
    fs::remove(root.path(real_path));
    fs::create_symlink(::ptsname(master_), root.path(real_path));
  }
  ~Pty() { ::close(master_); }

  void write(const std::string& text) {
    ASSERT_EQ(::write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  // What arrives within `limit_ms`, until `until` was seen.
  std::string read_until(const std::string& until, int limit_ms = 5000) {
    std::string got;
    eventually([&] {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 0) == 1) {
        char buf[256];
        ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<size_t>(n));
      }
      return contains(got, until);
    }, std::chrono::milliseconds(limit_ms));
    return got;
  }

 private:
  int master_ = -1;
};

TEST_F(BhyveTest, AScriptedGuestTalksOnTheSerialPorts) {
  Pty console(root_, "/dev/nmdm7A");
  Pty channel(root_, "/dev/nmdm7ciA");
  root_.write("guest.script",
              "# a guest asking for its metadata\n"
              "send com1 login: \n"
              "expect com2 NEGOTIATE V2\\n\n"
              "send com2 SUCCESS\\n\n"
              "expect com1 root\n"
              "exit 0\n");
  root_.write("bhyve-sim.ctl", "ready_delay_ms=1\nguest_script=guest.script\n");
  BhyveProcess& bhyve = start(representative_line());
  EXPECT_TRUE(contains(console.read_until("login: "), "login: ")) << bhyve.log();
  channel.write("NEGOTIATE V2\n");
  EXPECT_TRUE(contains(channel.read_until("SUCCESS\n"), "SUCCESS\n")) << bhyve.log();
  console.write("root");
  EXPECT_EQ(bhyve.exit_code(), 0) << bhyve.log();
  EXPECT_EQ(root_.read("bhyve-sim.com2.in"), "NEGOTIATE V2\n");
  EXPECT_EQ(root_.read("bhyve-sim.com1.in"), "root");
}

// The first 4096-aligned position at or after `from` holding a memory-table
// page of `layout`, or -1.
long long find_table_page(const std::string& image, int layout, size_t from = 4096) {
  constexpr uint64_t magic = 0xD1F76E4D0D696D02ull;
  for (size_t p = from; p + 4096 <= image.size(); p += 4096) {
    uint64_t word;
    std::memcpy(&word, image.data() + p + (layout == 0 ? 2048 : 0), 8);
    if ((word & ~1ull) == magic) return static_cast<long long>(p);
  }
  return -1;
}

class BhyveCheckpointTest : public BhyveTest, public ::testing::WithParamInterface<int> {
 protected:
  // Kernel memory formats 1 and 2 ask for table layouts 0 and 1.
  static void set_kernel_layout(int layout) {
    ASSERT_TRUE(platform::sysctl_set("hw.vmm.features.snapshot_memory_format",
                                     layout == 0 ? "1" : "2"));
  }
};

TEST_P(BhyveCheckpointTest, WritesAnImageAndResumesFromIt) {
  const int layout = GetParam();
  set_kernel_layout(layout);
  fs::create_directories(root_.path("/dev/zvol/z05/vm7"));
  BhyveProcess& first = start(representative_line());
  ASSERT_TRUE(ready()) << first.log();
  std::string before = config();
  EXPECT_EQ(vmm_request(kVm, "CHECKPOINT keep /no/such/dir/image").rfind("ERR ", 0), 0u);
  EXPECT_EQ(vmm_request(kVm, "CHECKPOINT keep " + vmm_sim::escape(kImage)), "OK") << first.log();

  std::string image = root_.read(".." + std::string(kImage));
  ASSERT_GE(image.size(), 4096u);
  EXPECT_EQ(image.substr(0, 39), "BHYVE OMBRIX CHECKPOINT IMAGE VERSION 1");
  // 2 GiB of guest memory make a chain of two table pages, 2 MiB apart.
  long long table = find_table_page(image, layout);
  ASSERT_GT(table, 0);
  EXPECT_EQ(image.size(), static_cast<size_t>(table) + 2 * 2097152);
  EXPECT_EQ(find_table_page(image, layout, table + 2097152), table + 2097152);
  EXPECT_EQ(find_table_page(image, 1 - layout), -1);

  // The image stays usable after the VM goes on; stopping it is the
  // wrapper's job.
  first.signal(SIGTERM);
  ASSERT_EQ(first.exit_code(), 1);

  BhyveProcess& resumed =
      start({"-r", kImage, "-o", "pci.0.29.0.tcp=127.0.0.1:5999", "-U", kUuid, kVm});
  ASSERT_TRUE(ready()) << resumed.log();
  std::string after = config();
  std::string expected = before;
  size_t at = expected.find("pci.0.29.0.tcp=0.0.0.0:5907");
  ASSERT_NE(at, std::string::npos);
  expected.replace(at, 27, "pci.0.29.0.tcp=127.0.0.1:5999");
  EXPECT_EQ(after, expected);

  // A stop checkpoint ends the VM with the powered-off status.
  EXPECT_EQ(vmm_request(kVm, "CHECKPOINT stop " + vmm_sim::escape(kImage)), "OK");
  EXPECT_EQ(resumed.exit_code(), 1);
  EXPECT_FALSE(shm_exists(kVm, "devices"));

  // An image whose table is not in the layout the kernel asks for is refused.
  set_kernel_layout(1 - layout);
  BhyveProcess& refused = start({"-r", kImage, "-U", kUuid, kVm});
  EXPECT_EQ(refused.exit_code(), 5);
  EXPECT_TRUE(contains(refused.log(), "not in layout")) << refused.log();
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, BhyveCheckpointTest, ::testing::Values(0, 1));

sockaddr_in loopback(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  return addr;
}

int free_tcp_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

TEST_F(BhyveTest, MigratesAVmToAReceivingHypervisor) {
  TempRoot other(false);  // the receiving host
  lay_out(other);
  other.write("bhyve-sim.ctl", "ready_delay_ms=1\n");
  const std::string other_node = other.path("/dev/vmm/vm7");
  int port = free_tcp_port();

  // The receiver's objects carry the other root's tag; they go even when a
  // check below fails, after the receiver itself.
  struct OtherShm {
    const TempRoot& other;
    const TempRoot& own;
    ~OtherShm() {
      ::setenv("OMBRIX_ROOT", other.dir().c_str(), 1);
      platform::reload_host_root_for_tests();
      unlink_vm_shm(kVm);
      ::setenv("OMBRIX_ROOT", own.dir().c_str(), 1);
      platform::reload_host_root_for_tests();
    }
  } other_shm{other, root_};
  BhyveProcess receiver(other.vm_dir(), SIM_BHYVE,
                        {"-L", std::to_string(port), "-o", "pci.0.29.0.tcp=0.0.0.0:6001", "-U",
                         kUuid, kVm},
                        {.nice = -1, .only_cpu = -1, .root = other.dir()});
  ASSERT_TRUE(eventually([&] { return vmm_request_at(other_node, "PING") == "OK 3"; }))
      << receiver.log();

  BhyveProcess& sender = start(representative_line());
  ASSERT_TRUE(ready()) << sender.log();
  EXPECT_EQ(vmm_request(kVm, fmt::format("LIVESTREAM 127.0.0.1 {}", port)), "OK") << sender.log();
  EXPECT_EQ(sender.exit_code(), 1);

  ASSERT_TRUE(eventually([&] { return vmm_request_at(other_node, "PING") == "OK 0"; }))
      << receiver.log();
  std::string received = vmm_sim::unescape(vmm_request_at(other_node, "CONFIG"));
  EXPECT_TRUE(contains(received, "pci.0.29.0.tcp=0.0.0.0:6001\n")) << received;
  EXPECT_TRUE(contains(received, "pci.0.8.0.mac=02:00:00:00:07:01\n")) << received;
  EXPECT_TRUE(contains(received, "memory.size=2147483648\n")) << received;
  receiver.signal(SIGTERM);
  EXPECT_EQ(receiver.exit_code(), 1);
}

TEST_F(BhyveTest, ABrokenMigrationStreamEndsTheReceiver) {
  int port = free_tcp_port();
  BhyveProcess& receiver = start({"-L", std::to_string(port), "-U", kUuid, kVm});
  ASSERT_TRUE(eventually([] { return vmm_request(kVm, "PING") == "OK 3"; })) << receiver.log();
  EXPECT_EQ(vmm_request(kVm, "CHECKPOINT keep /x"), fmt::format("ERR {} the VM is not running", EBUSY));

  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = loopback(port);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  std::string junk = "GET / HTTP/1.0\n\n";
  ASSERT_EQ(::send(fd, junk.data(), junk.size(), MSG_NOSIGNAL), static_cast<ssize_t>(junk.size()));
  std::string answer;
  char c;
  while (::recv(fd, &c, 1, 0) == 1 && c != '\n') answer += c;
  ::close(fd);
  EXPECT_EQ(answer.rfind("ERR not a migration stream", 0), 0u) << answer;
  EXPECT_EQ(receiver.exit_code(), 5);
}

}  // namespace
}  // namespace bhyve_test
