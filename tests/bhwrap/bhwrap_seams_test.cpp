// The wrapper's argument list and its remote-disk steps, in this process
// (nothing here forks or runs an event loop).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "bhwrap/wrapper/bhwrap.h"
#include "nvmf/spdk_endpoint.h"
#include "platform/host_root.h"
#include "tests/support/require.h"
#include "tests/support/temp_root.h"

namespace {

using test_support::TempRoot;

// A target that answers from a script and records what it was asked.
struct ScriptedRemote : RemoteDisks {
  std::deque<RemoteShare> shares;
  RemoteMount mount_answer;
  std::vector<std::string> calls;

  RemoteShare share(const std::string& traddr, const std::string& volume, uint64_t sector_size,
                    const std::string& host_nqn) override {
    calls.push_back("share " + traddr + " " + volume + " " + std::to_string(sector_size) + " [" +
                    host_nqn + "]");
    RemoteShare answer = shares.empty() ? RemoteShare{} : shares.front();
    if (shares.size() > 1) shares.pop_front();
    return answer;
  }
  std::optional<std::string> unshare(const std::string& traddr, const std::string& volume,
                                     const std::string&) override {
    calls.push_back("unshare " + traddr + " " + volume);
    return std::nullopt;
  }
  RemoteMount mount(const std::string& traddr, const std::string& nqn, const std::string&) override {
    calls.push_back("mount " + traddr + " " + nqn);
    return mount_answer;
  }
  std::optional<std::string> unmount(const std::string& traddr, const std::string& nqn) override {
    calls.push_back("unmount " + traddr + " " + nqn);
    return std::nullopt;
  }
  int shared_count(const std::string&, const std::string&) override { return 0; }
  std::string disk_host_nqn(const std::string&, uint8_t) override { return "host-nqn"; }
  std::string snapshot_host_nqn(const std::string&) override { return "host-nqn"; }
};

// A loopback address and port bound (not listening) for the life of the
// object: a connection to it is refused at once, and nobody else can listen
// there meanwhile.
class HeldPort {
 public:
  HeldPort(const std::string& address, int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    test_support::require(fd_ >= 0 && ::inet_aton(address.c_str(), &sa.sin_addr) != 0 &&
                              ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0,
                          "bind " + address + ":" + std::to_string(port) + ": " + std::strerror(errno));
  }
  ~HeldPort() {
    if (fd_ >= 0) ::close(fd_);
  }
  HeldPort(const HeldPort&) = delete;
  HeldPort& operator=(const HeldPort&) = delete;

 private:
  int fd_;
};

BhWrapTimings no_delays() {
  BhWrapTimings t;
  t.release_pause = std::chrono::milliseconds(0);
  t.share_retry_delay = std::chrono::milliseconds(0);
  return t;
}

// A wrapper of `cmd` whose target answers `shares` (the last one for good)
// and `mount`; the target stays reachable through the first member.
std::pair<ScriptedRemote*, std::unique_ptr<BhWrap>> scripted(const _command& cmd,
                                                             std::deque<RemoteShare> shares,
                                                             RemoteMount mount = {},
                                                             BhWrapTimings timings = no_delays()) {
  auto target = std::make_unique<ScriptedRemote>();
  ScriptedRemote* raw = target.get();
  raw->shares = std::move(shares);
  raw->mount_answer = std::move(mount);
  return {raw, std::make_unique<BhWrap>(cmd, timings, std::move(target))};
}

_command command_for(const nlohmann::json& record, const std::string& method = "vms-start") {
  _command cmd;
  cmd.vm_id = record.value("id", "");
  cmd.method = method;
  cmd.root_fs = record.value("root_fs", "");
  cmd.root_dataset_name = "z05/vm9";
  cmd.item = record.dump();
  return cmd;
}

nlohmann::json base_record() {
  return {{"id", "9"}, {"cpus", 4}, {"ram", 1024}, {"root_fs", "/vm"}, {"gc_id", 0},
          {"uefi", "/fw/custom.fd"}, {"extra_options", "-o pci.0.9.0.x=1"},
          {"vnc", {{"host", "0.0.0.0"}, {"port", 5909}, {"width", 800}, {"height", 600}}}};
}

bool has_sequence(const std::vector<std::string>& args, const std::vector<std::string>& part) {
  return std::search(args.begin(), args.end(), part.begin(), part.end()) != args.end();
}

TEST(BhWrapArgv, DropsAMissingSeedReplacesAMissingBootRomAndSplitsOptions) {
  TempRoot root;
  nlohmann::json record = base_record();
  BhWrap wrap(command_for(record), no_delays());
  VmConfig config(record);

  std::vector<std::string> args = wrap.build_argv(config);
  EXPECT_EQ(args.front(), "/usr/sbin/bhyve");
  EXPECT_TRUE(has_sequence(args, {"-A", "-H", "-c", "4", "-m", "1024", "-s", "0,hostbridge"}));
  EXPECT_TRUE(std::none_of(args.begin(), args.end(),
                           [](const std::string& a) { return a.find("seed.iso") != std::string::npos; }));
  EXPECT_TRUE(has_sequence(args, {"-l", std::string("bootrom,") + kDefaultUefiFirmware}));
  EXPECT_TRUE(has_sequence(args, {"-l", "com1,/dev/nmdm9A", "-l"}));
  EXPECT_EQ(std::vector<std::string>(args.end() - 2, args.end()),
            (std::vector<std::string>{"-o", "pci.0.9.0.x=1"}));

  // With both files in place the elements stay as the record has them.
  root.write("/vm/seed.iso", "");
  root.write("/fw/custom.fd", "rom");
  args = wrap.build_argv(config);
  EXPECT_TRUE(has_sequence(args, {"-s", "4,ahci-cd,/vm/seed.iso,ro"}));
  EXPECT_TRUE(has_sequence(args, {"-l", "bootrom,/fw/custom.fd"}));
}

TEST(BhWrapRemote, LocalNvmeDisksGetPathSettingsAndRemoteOnesNeedTheirTarget) {
  TempRoot root;
  nlohmann::json record = base_record();
  record["disks"] = {{{"devtype", "nvme"}, {"dev", "/dev/zvol/z05/vm9/disk1"}, {"slot", 6}},
                     {{"devtype", "virtio-blk"}, {"dev", "/dev/zvol/z05/vm9/disk0"}, {"slot", 5}}};
  BhWrap local(command_for(record), no_delays());
  VmConfig config(record);
  EXPECT_FALSE(local.attach_remote_disks(config));
  EXPECT_EQ(local.extra_args(),
            (std::vector<std::string>{"-o", "pci.0.6.0.nvmf=false", "-o",
                                      "pci.0.6.0.path=/dev/zvol/z05/vm9/disk1"}));

  // A remote disk whose host runs no storage target fails the start before
  // anything runs.
  record["disks"].push_back({{"trtype", "tcp"}, {"traddr", "127.0.0.9"}, {"dev", "/dev/zvol/z07/d"},
                             {"slot", 7}});
  BhWrap remote(command_for(record), no_delays());
  EXPECT_EQ(remote.exec(), -4);
  VmConfig again(record);
  EXPECT_EQ(BhWrap(command_for(record), no_delays()).attach_remote_disks(again), "Error connect to socket!");
}

TEST(BhWrapRemote, SharesRetryOnlyWhileTheSubsystemCannotBeCreated) {
  TempRoot root;
  nlohmann::json record = base_record();
  record["disks"] = {{{"trtype", "tcp"}, {"traddr", "10.0.0.2"}, {"dev", "/dev/zvol/z07/d"},
                      {"slot", 7}, {"sector_size", {{"logical", 4096}}}}};
  const _command cmd = command_for(record);
  auto [t, wrap] = scripted(cmd, {{0, "", "Unable to create subsystem: busy"},
                                  {0, "", "Unable to create subsystem: busy"},
                                  {4421, "nqn.2024-01.io.ombrix:d", ""}});
  VmConfig config(record);
  EXPECT_FALSE(wrap->attach_remote_disks(config));
  EXPECT_EQ(t->calls.size(), 3u);
  EXPECT_EQ(t->calls.front(), "share 10.0.0.2 /dev/zvol/z07/d 4096 []");  // any host by default
  EXPECT_EQ(config.disks[0].dev, "nqn.2024-01.io.ombrix:d");
  EXPECT_EQ(config.disks[0].guid, 4421u);
  EXPECT_EQ(wrap->extra_args(),
            (std::vector<std::string>{"-o", "pci.0.7.0.nvmf=true", "-o", "pci.0.7.0.trtype=tcp",
                                      "-o", "pci.0.7.0.adrfam=IPv4", "-o", "pci.0.7.0.traddr=10.0.0.2",
                                      "-o", "pci.0.7.0.trsvcid=4421", "-o",
                                      "pci.0.7.0.subnqn=nqn.2024-01.io.ombrix:d", "-o",
                                      "pci.0.7.0.dpdk_core_mask=0x1"}));

  // Any other refusal is final; a refusal that persists ends after the attempts.
  BhWrapTimings four_attempts = no_delays();
  four_attempts.share_attempts = 4;
  for (auto [refusal, timings, attempts] : {std::tuple{"Unable to create subsystem", four_attempts, 4u},
                                            {"Access denied", no_delays(), 1u}}) {
    auto [target, refused] = scripted(cmd, {{0, "", refusal}}, {}, timings);
    VmConfig again(record);
    EXPECT_EQ(refused->attach_remote_disks(again), refusal);
    EXPECT_EQ(target->calls.size(), attempts) << refusal;
  }
}

TEST(BhWrapRemote, RemoteCheckpointIsMountedAndReleasedOnce) {
  TempRoot root;
  nlohmann::json record = base_record();
  record["suspend-device"] = {{"trtype", "tcp"}, {"traddr", "127.0.0.3"}};
  _command cmd = command_for(record, "vms-resume");
  cmd.remote = true;

  // The target's port at 127.0.0.3 is held here without listening, so the
  // real client's connection is refused: the check fails with the reason.
  {
    HeldPort target("127.0.0.3", platform::host_port(nvmf::spdk_port()));
    EXPECT_EQ(BhWrap(cmd, no_delays()).exec(), -6);
  }

  // A failed mount withdraws the share again.
  auto [failing, unmountable] = scripted(cmd, {{4420, "nqn.snap", ""}}, {"", "no path"});
  VmSuspendDevice device{"tcp", "127.0.0.3", "/dev/zvol/z05/vm9/snapshot.bvmss", 0};
  auto [code, text] = unmountable->attach_remote_snapshot(device);
  EXPECT_EQ(code, -1);
  EXPECT_EQ(text, "Remote snapshot mounting: no path");
  EXPECT_EQ(failing->calls.back(), "unshare 127.0.0.3 /dev/zvol/z05/vm9/snapshot.bvmss");

  auto [t, wrap] = scripted(cmd, {{4420, "nqn.snap", ""}}, {"/dev/nvme3n1", ""});
  VmConfig config(record);
  // The mounted device holds no image: not suspended, but the image is in use.
  EXPECT_EQ(wrap->check_snapshot_config(config), BhWrap::kNoCheckpoint);
  EXPECT_EQ(wrap->checkpoint_path(), "/dev/nvme3n1");
  EXPECT_EQ(wrap->extra_args(), std::vector<std::string>{"/dev/nvme3n1"});
  t->calls.clear();
  wrap->detach_remote_snapshot(false);
  wrap->detach_remote_snapshot(false);
  EXPECT_EQ(t->calls, (std::vector<std::string>{"unmount 127.0.0.3 nqn.snap",
                                                "unshare 127.0.0.3 /dev/zvol/z05/vm9/snapshot.bvmss"}));
}

}  // namespace
