#include "storage/device_check.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "pool_fixture.h"
#include "storage_test_root.h"

namespace {

using namespace storage_test;

class DeviceCheck : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(load_stand_ins()); }

  // A pool made through libzfs itself on `devices` (a mirror when two),
  // with `spares`; exported when asked.
  void make_pool(const std::string& name, std::vector<std::string> devices,
                 std::vector<std::string> spares = {}, bool exported = false) {
    pool_spec spec;
    spec.name = name;
    spec.vdevs = {make_vdev(devices.size() > 1 ? vdev_type::mirror : vdev_type::disk, devices)};
    spec.spares = std::move(spares);
    ASSERT_TRUE(storage_test::make_pool(session_, spec));
    if (!exported) return;
    zpool_handle_t* pool = libzfs::zpool_open(session_.handle(), name.c_str());
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(libzfs::zpool_export(pool, B_FALSE, "test"), 0);
    libzfs::zpool_close(pool);
  }

  TempRoot root_;
  zfs_session session_;
  Disks disks_;
};

TEST_F(DeviceCheck, ProbesEveryDevice) {
  // A character device that is no disk: making device nodes takes the
  // capability to (CAP_MKNOD), which a container may withhold even from root.
  std::filesystem::create_directories(platform::host_path("/dev"));
  if (::mknod(platform::host_path("/dev/null0").c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0) {
    if (errno == EPERM) GTEST_SKIP() << "cannot make device nodes here (mknod: " << std::strerror(errno) << ")";
    FAIL() << "mknod /dev/null0: " << std::strerror(errno);
  }
  std::string good = disks_.image("good", 4 * GiB);
  std::string link = platform::host_path("/dev/again");
  ASSERT_EQ(::symlink(platform::host_path(good).c_str(), link.c_str()), 0);
  std::string plain = disks_.plain_file("big.img", 8 * GiB);
  std::string small = disks_.image("small", 1 * GiB);
  std::string tiny = disks_.image("tiny", 32 * MiB);
  std::string exported = disks_.image("exp", 5 * GiB);
  std::string active = disks_.image("act", 5 * GiB);
  std::string spare = disks_.image("spare", 5 * GiB);
  std::string busy = disks_.image("busy", 5 * GiB);
  make_pool("old", {exported}, {}, true);
  make_pool("live", {active}, {spare});
  int holder = ::open(platform::host_path(busy).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);

  struct Case {
    std::string path;
    pool_error code;
    std::string message;  // the same with force unless `forced` says otherwise
    uint64_t size;
    std::optional<pool_error> forced = std::nullopt;
  };
  std::vector<Case> cases = {
      {good, pool_error::ok, "", 4 * GiB},
      {"/dev/again", pool_error::bad_device,
       "'/dev/again' is specified more than once (resolves to '/dev/good')", 0},
      {"/dev/none", pool_error::bad_device, "cannot resolve '/dev/none': No such file or directory", 0},
      {plain, pool_error::bad_device, "'/var/big.img' is not a character or block device", 0},
      {"/dev/null0", pool_error::bad_device,
       "cannot obtain media size of '/dev/null0': Inappropriate ioctl for device", 0},
      {small, pool_error::bad_device,
       "'/dev/small' is too small: 1073741824 bytes, at least 4294967296 is required", 1 * GiB},
      {tiny, pool_error::bad_device,
       "'/dev/tiny' is too small: 33554432 bytes, ZFS requires at least 67108864", 32 * MiB},
      {exported, pool_error::device_in_use,
       "'/dev/exp' belongs to exported pool 'old'; use force to overwrite it", 5 * GiB, pool_error::ok},
      {active, pool_error::device_in_use, "'/dev/act' belongs to active pool 'live'", 5 * GiB},
      {spare, pool_error::device_in_use, "'/dev/spare' is reserved as a hot spare of pool 'live'", 5 * GiB},
      {busy, pool_error::device_busy,
       "'/dev/busy' is held by another consumer: mounted filesystem, swap, geli or another pool", 5 * GiB},
  };
  std::vector<std::string> paths;
  for (const Case& c : cases) paths.push_back(c.path);
  for (bool force : {false, true}) {
    std::vector<device_check> records = check_devices(session_, paths, force);
    ASSERT_EQ(records.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
      const Case& c = cases[i];
      pool_error code = force && c.forced ? *c.forced : c.code;
      EXPECT_EQ(records[i].path, c.path);
      EXPECT_EQ(records[i].code, code) << c.path << " force " << force;
      EXPECT_EQ(records[i].message, code == pool_error::ok ? "" : c.message) << c.path;
      EXPECT_EQ(records[i].size, c.size) << c.path;
    }
  }
  ::close(holder);
  // Probing writes nothing: the exported pool's label is still there.
  EXPECT_NE(zfs_sim_ok({"label", exported}), "");
}

TEST_F(DeviceCheck, SizesWithinAVdev) {
  auto mirror_spec = [&](uint64_t second, bool force) {
    pool_spec spec;
    spec.name = "tank";
    spec.force = force;
    vdev_spec vdev;
    vdev.type = vdev_type::mirror;
    vdev.devices = {disks_.image("m0", 100 * GiB), disks_.image("m1", 100 * GiB + second)};
    spec.vdevs = {vdev};
    spec.spares = {disks_.image("sp", 200 * GiB)};  // spares are not compared
    return spec;
  };
  struct Case {
    uint64_t extra;
    bool force;
    std::string message;
  };
  for (const Case& c : std::vector<Case>{
           {16 * MiB, false, ""},
           {17 * MiB, true, ""},
           {17 * MiB, false,
            "devices of one vdev differ in size: '/dev/m0' is 107374182400 bytes, '/dev/m1' is "
            "107392008192 bytes; capacity would be truncated to the smallest one"},
       }) {
    pool_spec spec = mirror_spec(c.extra, c.force);
    pool_result r = check_device_sizes(session_, collect_spec_devices(spec), spec);
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(r.code, c.message.empty() ? pool_error::ok : pool_error::bad_device);
  }

  // Every bad device is named, with the code of the first.
  pool_spec spec = mirror_spec(0, true);
  spec.vdevs[0].devices = {"/dev/gone", disks_.image("s1", 1 * GiB)};
  pool_result r = check_device_sizes(session_, collect_spec_devices(spec), spec);
  EXPECT_EQ(r.code, pool_error::bad_device);
  EXPECT_EQ(r.message,
            "cannot resolve '/dev/gone': No such file or directory; '/dev/s1' is too small: "
            "1073741824 bytes, at least 4294967296 is required");
}

TEST_F(DeviceCheck, ClearLabels) {
  const std::string mark(4096, 'L');
  std::string a = disks_.image("a", 64 * MiB), b = disks_.image("b", 64 * MiB);
  for (const std::string& disk : {a, b}) {
    Disks::write(disk, 0, mark);
    Disks::write(disk, 64 * MiB - 4096, mark);
  }
  // Short clearing: the first 4 KiB only; stops at the first failure.
  pool_result r = clear_labels({a, b, "/dev/missing"}, false);
  EXPECT_EQ(r.code, pool_error::bad_device);
  EXPECT_EQ(r.message,
            "cannot open '/dev/missing' for writing: No such file or directory. Labels already "
            "cleared on: /dev/a, /dev/b");
  EXPECT_EQ(Disks::read(a, 0, 4096), std::string(4096, '\0'));
  EXPECT_EQ(Disks::read(a, 64 * MiB - 4096, 4096), mark);

  // Full clearing reaches the tail.
  EXPECT_TRUE(clear_labels({b}, true).ok());
  EXPECT_EQ(Disks::read(b, 64 * MiB - 4096, 4096), std::string(4096, '\0'));

  int holder = ::open(platform::host_path(a).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  r = clear_labels({a}, false);
  EXPECT_EQ(r.code, pool_error::device_busy);
  EXPECT_EQ(r.message, "'/dev/a' is busy");
  ::close(holder);
}

TEST_F(DeviceCheck, LoopDevices) {
  std::string why;
  std::string disk = disks_.loop("loopdisk", 5 * GiB, why);
  if (disk.empty()) GTEST_SKIP() << why;
  std::vector<device_check> records = check_devices(session_, {disk}, false);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].code, pool_error::ok) << records[0].message;
  EXPECT_EQ(records[0].size, 5 * GiB);

  Disks::write(disk, 5 * GiB - 4096, std::string(4096, 'T'));
  EXPECT_TRUE(clear_labels({disk}, true).ok());
  EXPECT_EQ(Disks::read(disk, 5 * GiB - 4096, 4096), std::string(4096, '\0'));

  // An exclusive holder (as a mounted file system would be) makes it busy.
  int holder = ::open(platform::host_path(disk).c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  records = check_devices(session_, {disk}, false);
  EXPECT_EQ(records[0].code, pool_error::device_busy) << records[0].message;
  EXPECT_EQ(clear_labels({disk}, false).code, pool_error::device_busy);
  ::close(holder);

  // A disk below 16 MiB does not take the whole head area: the write comes
  // back short before the media size is looked at.
  std::string small = disks_.loop("smallloop", 8 * MiB, why);
  if (small.empty()) GTEST_SKIP() << why;
  pool_result r = clear_labels({small}, true);
  EXPECT_EQ(r.code, pool_error::bad_device);
  EXPECT_TRUE(r.message.starts_with("'/dev/smallloop' head zeroing failed: ")) << r.message;
}

}  // namespace
