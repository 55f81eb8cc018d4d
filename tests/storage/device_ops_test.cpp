#include "storage/device_ops.h"

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

#include "storage/pool_create.h"
#include "storage/pool_import.h"
#include "pool_fixture.h"
#include "storage_test_root.h"

namespace {

using namespace storage_test;
using nlohmann::json;

class DeviceOps : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(load_stand_ins());
    ASSERT_TRUE(make_pool(session_, two_disk_mirror(disks_)));
  }
  json leaf(const std::string& pool, size_t i) {
    return json::parse(zfs_sim_ok({"pool-config", pool}))["vdev_tree"]["children"][0]["children"][i];
  }

  TempRoot root_;
  zfs_session session_;
  Disks disks_;
};

TEST_F(DeviceOps, ReplaceRefusals) {
  const std::string mark(4096, 'K');
  std::string other = disks_.image("other", 5 * GiB);
  pool_spec spec;
  spec.name = "second";
  spec.vdevs = {make_vdev(vdev_type::disk, {other})};
  ASSERT_TRUE(make_pool(session_, spec));
  std::string small = disks_.image("small", 2 * GiB);
  std::string busy = disks_.image("busy", 5 * GiB);
  std::string plain = disks_.plain_file("plain.img", 5 * GiB);
  std::string same = "/dev/d0again";
  ASSERT_EQ(::link(platform::host_path("/dev/d0").c_str(), platform::host_path(same).c_str()), 0);
  for (const std::string& disk : {small, busy}) Disks::write(disk, 0, mark);
  int holder = ::open(platform::host_path(busy).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  std::string guid = std::to_string(leaf("tank", 1)["guid"].get<uint64_t>());

  struct Case {
    std::string pool, old_device, new_device, error;
  };
  for (const Case& c : std::vector<Case>{
           {"nopool", "/dev/d0", "/dev/x", "no such pool"},
           {"tank", "/dev/d9", "/dev/x", "'/dev/d9' not found in pool 'tank'"},
           {"tank", "/dev/d0", guid, "'" + guid + "' is already detected in pool 'tank'"},
           {"tank", "/dev/d0", "/dev/d1", "'/dev/d1' is already detected in pool 'tank'"},
           {"tank", "/dev/d0", "/dev/none", "Cannot open '/dev/none': No such file or directory"},
           {"tank", "/dev/d0", busy, "Cannot open '/dev/busy': Device or resource busy"},
           {"tank", "/dev/d0", plain, "'/var/plain.img' is not char or block device"},
           {"tank", "/dev/d0", small, "'/dev/small' too small 2147483648"},
           // Members of active pools are held open, as the kernel holds them.
           {"tank", "/dev/d0", same, "Cannot open '/dev/d0again': Device or resource busy"},
           {"tank", "/dev/d0", other, "Cannot open '/dev/other': Device or resource busy"},
       }) {
    std::optional<std::string> error = replace_device(session_, c.pool, c.old_device, c.new_device);
    EXPECT_EQ(error.value_or("(replaced)"), c.error);
  }
  ::close(holder);
  // Nothing was written to any refused device.
  for (const std::string& disk : {small, busy}) EXPECT_EQ(Disks::read(disk, 0, 4096), mark);
  EXPECT_EQ(json::parse(zfs_sim_ok({"label", other}))["name"], "second");
  ASSERT_EQ(export_pool(session_, "second", false, false).code, 0);
  EXPECT_EQ(replace_device(session_, "tank", "/dev/d0", other).value_or(""),
            "'/dev/other' belongs to exported pool 'second'");
  EXPECT_EQ(leaf("tank", 0)["path"], "/dev/d0");

  zfs_sim_ok({"vdev-set", "tank", "/dev/d1", "whole_disk", "0"});
  EXPECT_EQ(replace_device(session_, "tank", "/dev/d0", "/dev/x").value_or(""),
            "'/dev/d0' detecting error: Not disk '/dev/d1' found in vdev_tree");
}

TEST_F(DeviceOps, ReplaceWritesAndAttaches) {
  std::string fresh = disks_.image("fresh", 6 * GiB);
  Disks::write(fresh, 6 * GiB - 4096, std::string(4096, 'T'));
  std::string guid = std::to_string(leaf("tank", 0)["guid"].get<uint64_t>());
  EXPECT_EQ(replace_device(session_, "tank", guid, fresh), std::nullopt);
  json replaced = leaf("tank", 0);
  EXPECT_EQ(replaced["path"], fresh);
  EXPECT_EQ(replaced["whole_disk"], 1);
  EXPECT_EQ(replaced["is_log"], 0);
  EXPECT_FALSE(replaced.contains("ashift"));  // the pool's ashift was never set
  EXPECT_EQ(Disks::read(fresh, 6 * GiB - 4096, 4096), std::string(4096, '\0'));

  // A failed attach leaves the new device zeroed.
  std::string next = disks_.image("next", 6 * GiB);
  Disks::write(next, 6 * GiB - 4096, std::string(4096, 'T'));
  zfs_sim_ok({"fail", "zpool_vdev_attach", "--text", "resilver refused"});
  EXPECT_EQ(replace_device(session_, "tank", "/dev/d1", next).value_or(""),
            "'/dev/next' attaching error: resilver refused");
  EXPECT_EQ(Disks::read(next, 6 * GiB - 4096, 4096), std::string(4096, '\0'));

  // With an ashift set on the pool the new leaf carries it.
  pool_spec spec;
  spec.name = "a12";
  spec.ashift = 12;
  spec.vdevs = {make_vdev(vdev_type::mirror, image_disks(disks_, "a", 2))};
  pool_property_list props;
  dataset_property_list fs_props;
  ASSERT_TRUE(create_pool(session_, spec, props, fs_props).ok());
  EXPECT_EQ(replace_device(session_, "a12", "/dev/a1", next), std::nullopt);
  EXPECT_EQ(leaf("a12", 1)["ashift"], 12);
}

TEST_F(DeviceOps, OnlineOfflineClear) {
  struct Case {
    std::string what;
    std::vector<std::string> seed;  // zfs-sim arguments
    zfs_call_result (*op)(zfs_session&, const std::string&, const std::string&);
    std::string device;
    int code;
    std::string text;
  };
  auto online = [](zfs_session& s, const std::string& p, const std::string& d) { return online_device(s, p, d); };
  auto offline = [](zfs_session& s, const std::string& p, const std::string& d) { return offline_device(s, p, d); };
  for (const Case& c : std::vector<Case>{
           {"offline", {}, offline, "/dev/d1", 0, ""},
           {"offline missing", {}, offline, "/dev/d7", -1, "no such device in pool"},
           {"online healthy", {}, online, "/dev/d1", 0, ""},
           {"online degraded", {"vdev-set", "tank", "/dev/d1", "sim_online_state", "6"}, online, "/dev/d1", 1,
            "warning: device '/dev/d1' onlined, but remains in faulted state. Use 'zpool replace' to replace "
            "devices that are no longer present"},
           {"online faulted", {"vdev-set", "tank", "/dev/d1", "sim_online_state", "5"}, online, "d1", 1,
            "warning: device 'd1' onlined, but remains in faulted state. Use 'zpool clear' to restore a faulted "
            "device"},
           {"online failing", {"fail", "zpool_vdev_online", "--text", "gone"}, online, "/dev/d1", -1, ""},
           {"offline failing", {"fail", "zpool_vdev_offline", "--text", "gone"}, offline, "/dev/d1", -1, "gone"},
       }) {
    if (!c.seed.empty()) zfs_sim_ok(c.seed);
    zfs_call_result r = c.op(session_, "tank", c.device);
    EXPECT_EQ(r.code, c.code) << c.what;
    EXPECT_EQ(r.text, c.text) << c.what;
  }
  EXPECT_EQ(online_device(session_, "nope", "/dev/d1").text, "no such pool");

  zfs_sim_ok({"vdev-set", "tank", "/dev/d0", "checksum_errors", "4"});
  zfs_sim_ok({"vdev-set", "tank", "/dev/d1", "state", "5"});
  zfs_sim_ok({"pool-set", "tank", "error_count", "9"});
  zfs_call_result r = clear_pool_errors(session_, "tank");
  EXPECT_EQ(r.code, 0) << r.text;
  json config = json::parse(zfs_sim_ok({"pool-config", "tank"}));
  EXPECT_EQ(config["error_count"], 0);
  EXPECT_EQ(leaf("tank", 0)["vdev_stats"][22], 0);
  EXPECT_EQ(leaf("tank", 1)["vdev_stats"][1], 7);
  r = clear_pool_errors(session_, "nope");
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.text, "no such pool");
}

}  // namespace
