// What a pool's state directory may hold in place of a VM's state link, its
// target or the pool's ".lock": whatever it is, reading it never blocks, a
// link is never followed out of place, and what is not a regular file is
// refused with an error that names it.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "ipc/unique_fd.h"
#include "model/vm_state.h"
#include "pool/state/lock_file.h"
#include "tests/support/temp_root.h"

namespace {

namespace fs = std::filesystem;

enum class Kind { regular, fifo, dangling_link, link_to_fifo, directory, socket };

struct KindCase {
  Kind kind;
  const char* name;
  const char* refusal;  // in the error text; "" when the file is usable
};

const KindCase kKinds[] = {
    {Kind::regular, "regular", ""},
    {Kind::fifo, "FIFO", "a FIFO, not a regular file"},
    {Kind::dangling_link, "dangling link", ""},
    {Kind::link_to_fifo, "link to a FIFO", "a symbolic link, not a regular file"},
    {Kind::directory, "directory", "a directory, not a regular file"},
    {Kind::socket, "socket", "a socket, not a regular file"},
};

class StateDirectoryFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_.path(kStateDir));
    fs::create_directories(root_.path(kVmDir));
  }

  // Makes `path` (mapped) a file of `kind`; links point to `elsewhere`.
  void make(Kind kind, const std::string& path, const std::string& text = "{\"id\":\"7\"}") {
    const std::string elsewhere = root_.path("/elsewhere");
    switch (kind) {
      case Kind::regular: std::ofstream(path) << text; break;
      case Kind::fifo: ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); break;
      case Kind::dangling_link: ASSERT_EQ(::symlink(elsewhere.c_str(), path.c_str()), 0); break;
      case Kind::link_to_fifo:
        ASSERT_EQ(::mkfifo(elsewhere.c_str(), 0600), 0);
        ASSERT_EQ(::symlink(elsewhere.c_str(), path.c_str()), 0);
        break;
      case Kind::directory: fs::create_directory(path); break;
      case Kind::socket: {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        ASSERT_LT(path.size(), sizeof addr.sun_path);
        path.copy(addr.sun_path, path.size());
        sockets_ = UniqueFd(::socket(AF_UNIX, SOCK_STREAM, 0));
        ASSERT_EQ(::bind(sockets_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        break;
      }
    }
  }
  void clear() {
    for (const char* p : {"/elsewhere", "/pools/z05/.vm_V4_state/7.state", "/pools/z05/.vm_V4/000000007/vm.json",
                          "/pools/z05/.vm_V4_state/.lock"})
      fs::remove_all(root_.path(p));
    sockets_.reset();
  }

  static constexpr const char* kStateDir = "/pools/z05/.vm_V4_state";
  static constexpr const char* kVmDir = "/pools/z05/.vm_V4/000000007";
  test_support::TempRoot root_;
  UniqueFd sockets_;
};

TEST_F(StateDirectoryFiles, StateEntryOfEveryKind) {
  for (const auto& c : kKinds) {
    clear();
    make(c.kind, root_.path(std::string(kStateDir) + "/7.state"));
    VmStateRead r = VmState("z05", "7").read();
    if (c.kind == Kind::regular) {
      EXPECT_TRUE(r.ok()) << c.name << ": " << r.text;  // a plain file stands for vm.json itself
    } else if (c.kind == Kind::dangling_link) {
      EXPECT_EQ(r.code, VmStateCode::dangling) << c.name;
    } else {
      // The state link is followed once, by design: what counts is its target.
      const char* why = c.kind == Kind::link_to_fifo ? "a FIFO, not a regular file" : c.refusal;
      EXPECT_FALSE(r.ok()) << c.name;
      EXPECT_NE(r.text.find(why), std::string::npos) << c.name << ": " << r.text;
    }
  }
}

TEST_F(StateDirectoryFiles, StateLinkTargetOfEveryKind) {
  const std::string target = std::string(kVmDir) + "/vm.json";
  for (const auto& c : kKinds) {
    clear();
    ASSERT_EQ(::symlink(target.c_str(), root_.path(std::string(kStateDir) + "/7.state").c_str()), 0);
    make(c.kind, root_.path(target));
    VmStateRead r = VmState("z05", "7").read();
    if (c.kind == Kind::regular) {
      EXPECT_TRUE(r.ok()) << c.name << ": " << r.text;
      continue;
    }
    EXPECT_FALSE(r.ok()) << c.name;
    // The error names the file and, unless nothing is there, what it is.
    EXPECT_NE(r.text.find("'" + target + "'"), std::string::npos) << c.name << ": " << r.text;
    if (c.kind != Kind::dangling_link) {
      EXPECT_NE(r.text.find(c.refusal), std::string::npos)
          << c.name << ": " << r.text;
    }
  }
}

TEST_F(StateDirectoryFiles, LockOfEveryKind) {
  const std::string lock_path = std::string(kStateDir) + "/.lock";
  const std::string mapped = root_.path(lock_path);
  for (const auto& c : kKinds) {
    clear();
    make(c.kind, mapped, "");
    {
      LockFile lock(lock_path);
      int taken = lock.try_lock();
      if (c.kind == Kind::regular) {
        EXPECT_EQ(taken, 0) << c.name << ": " << lock.error();
        continue;
      }
      EXPECT_EQ(taken, -1) << c.name;
      EXPECT_NE(lock.error().find("'" + lock_path + "'"), std::string::npos) << c.name << ": " << lock.error();
      const char* why = c.kind == Kind::dangling_link ? "a symbolic link, not a regular file" : c.refusal;
      EXPECT_NE(lock.error().find(why), std::string::npos) << c.name << ": " << lock.error();
    }
    // Whatever was there stays as it was; a link's target is never made.
    struct stat st {};
    EXPECT_EQ(::lstat(mapped.c_str(), &st), 0) << c.name;
    if (c.kind == Kind::dangling_link) {
      EXPECT_FALSE(fs::exists(root_.path("/elsewhere"))) << c.name;
    }
  }
  clear();
}

}  // namespace
