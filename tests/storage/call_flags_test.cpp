// The flags the library passes to libzfs, as the stand-in recorded them: a
// wrong flag (a temporary offline, a deferred destroy, a skipped ashift
// check) does the right thing in the stand-in and the wrong one on a host.
#include <functional>

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

#include "storage/device_ops.h"
#include "storage/pool_add.h"
#include "storage/pool_import.h"
#include "storage/zvol.h"
#include "pool_fixture.h"
#include "storage_test_root.h"

namespace {

using namespace storage_test;
using nlohmann::json;

class CallFlags : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(load_stand_ins());
    ASSERT_TRUE(make_pool(session_, two_disk_mirror(disks_)));
  }
  // The last recorded call of `function`, without its name (null when none).
  json last_call(const std::string& function) {
    std::string out = zfs_sim_ok({"calls", function});
    size_t end = out.rfind('\n');
    if (end == std::string::npos) return nullptr;
    size_t start = out.rfind('\n', end - 1);
    json call = json::parse(out.substr(start == std::string::npos ? 0 : start + 1, end));
    call.erase("function");
    return call;
  }

  TempRoot root_;
  zfs_session session_;
  Disks disks_;
};

TEST_F(CallFlags, EachCallCarriesTheFlagsTheOperationMeans) {
  uint64_t size = 1 << 20;
  ASSERT_EQ(create_volume(session_, "tank/vol", size, 8192).code, 0);
  const struct {
    const char* name;
    std::function<void()> run;
    const char* function;
    json expected;
  } cases[] = {
      {"offline is not temporary", [&] { offline_device(session_, "tank", "/dev/d1"); }, "zpool_vdev_offline",
       {{"pool", "tank"}, {"path", "/dev/d1"}, {"temporary", false}}},
      {"clear without rewind", [&] { clear_pool_errors(session_, "tank"); }, "zpool_clear",
       {{"pool", "tank"}, {"rewind_policy", {{"load-rewind-policy", 1}}}}},
      {"replace resilvers", [&] { replace_device(session_, "tank", "/dev/d0", disks_.image("r", 6 * GiB)); },
       "zpool_vdev_attach",
       {{"pool", "tank"}, {"old", "/dev/d0"}, {"new", "/dev/r"}, {"replacing", 1}, {"rebuild", false}}},
      {"volume destroyed at once", [&] { destroy_volume(session_, "tank/vol"); }, "zfs_destroy",
       {{"name", "tank/vol"}, {"defer", false}}},
      {"add checks the ashift",
       [&] {
         pool_spec more;
         more.vdevs = {make_vdev(vdev_type::mirror, image_disks(disks_, "a", 2))};
         add_vdev(session_, "tank", more);
       },
       "zpool_add", {{"pool", "tank"}, {"check_ashift", true}}},
      {"forced add skips the ashift check",
       [&] {
         pool_spec more;
         more.force = true;
         more.vdevs = {make_vdev(vdev_type::mirror, image_disks(disks_, "f", 2))};
         add_vdev(session_, "tank", more);
       },
       "zpool_add", {{"pool", "tank"}, {"check_ashift", false}}},
      {"export", [&] { export_pool(session_, "tank", false, false); }, "zpool_export",
       {{"pool", "tank"}, {"force", false}}},
      {"import with the caller's flags",
       [&] {
         pool_property_list props;
         import_pool(session_, "tank", props, 2);
       },
       "zpool_import_props", {{"pool", "tank"}, {"flags", 2}, {"props", json::object()}}},
      {"forced export", [&] { export_pool(session_, "tank", true, false); }, "zpool_export",
       {{"pool", "tank"}, {"force", true}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.run();
    EXPECT_EQ(last_call(c.function), c.expected);
  }
}

}  // namespace
