// Test support: disks of the simulated host under the test's host root.
// Image disks are sparse files under root/dev; loop disks are loop devices
// over sparse files, reached through block nodes made under root/dev, and
// detached (by device) when the fixture goes.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/host_root.h"
#include "tests/support/run_program.h"

namespace storage_test {

inline constexpr uint64_t GiB = 1ull << 30;
inline constexpr uint64_t MiB = 1ull << 20;

class Disks {
 public:
  ~Disks() {
    for (const std::string& loop : loops_) test_support::run_program("/usr/sbin/losetup", {"-d", loop});
  }

  // A sparse image disk "/dev/<name>" of `size` bytes.
  std::string image(const std::string& name, uint64_t size) {
    std::string real = "/dev/" + name;
    make_file(platform::host_path(real), size);
    return real;
  }

  // A sparse regular file outside /dev ("/var/<name>").
  std::string plain_file(const std::string& name, uint64_t size) {
    std::string real = "/var/" + name;
    make_file(platform::host_path(real), size);
    return real;
  }

  // A loop disk "/dev/<name>" of `size` bytes; "" when no loop device can be
  // had here (the reason in `why`).
  std::string loop(const std::string& name, uint64_t size, std::string& why) {
    std::string backing = platform::host_path("/var/" + name + ".img");
    make_file(backing, size);
    test_support::RunResult run =
        test_support::run_program("/usr/sbin/losetup", {"--find", "--show", backing});
    std::string device = run.output.substr(0, run.output.find('\n'));
    if (run.status != 0 || device.empty()) {
      why = "no loop device can be attached here (losetup: " + run.output + ")";
      return "";
    }
    loops_.push_back(device);
    struct stat st {};
    std::string node = platform::host_path("/dev/" + name);
    std::filesystem::create_directories(std::filesystem::path(node).parent_path());
    if (::stat(device.c_str(), &st) != 0 || ::mknod(node.c_str(), S_IFBLK | 0600, st.st_rdev) != 0) {
      why = "cannot make a block node for " + device;
      return "";
    }
    return "/dev/" + name;
  }

  // The bytes of the disk at `offset`.
  static std::string read(const std::string& real, uint64_t offset, size_t length) {
    std::string data(length, '\0');
    int fd = ::open(platform::host_path(real).c_str(), O_RDONLY | O_CLOEXEC);
    ssize_t n = fd >= 0 ? ::pread(fd, data.data(), length, static_cast<off_t>(offset)) : -1;
    if (fd >= 0) ::close(fd);
    data.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return data;
  }
  static void write(const std::string& real, uint64_t offset, const std::string& data) {
    int fd = ::open(platform::host_path(real).c_str(), O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
      [[maybe_unused]] ssize_t n = ::pwrite(fd, data.data(), data.size(), static_cast<off_t>(offset));
      ::close(fd);
    }
  }

 private:
  static void make_file(const std::string& path, uint64_t size) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
      [[maybe_unused]] int rc = ::ftruncate(fd, static_cast<off_t>(size));
      ::close(fd);
    }
  }

  std::vector<std::string> loops_;
};

}  // namespace storage_test
