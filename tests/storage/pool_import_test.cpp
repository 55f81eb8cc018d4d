#include "storage/pool_import.h"

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

#include "storage/zpool_ref.h"
#include "pool_fixture.h"
#include "storage_test_root.h"

namespace {

using namespace storage_test;
using nlohmann::json;

class PoolImport : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(load_stand_ins()); }

  std::string pool(const std::string& name, const std::string& disk_prefix) {
    pool_spec spec;
    spec.name = name;
    spec.vdevs = {make_vdev(vdev_type::mirror, image_disks(disks_, disk_prefix, 2))};
    EXPECT_TRUE(make_pool(session_, spec));
    return spec.vdevs[0].devices[0];
  }
  std::string guid(const std::string& name) {
    return json::parse(zfs_sim_ok({"pool-config", name}))["pool_guid"].dump();
  }
  int label_state(const std::string& disk) { return json::parse(zfs_sim_ok({"label", disk}))["state"]; }
  bool imported(const std::string& name) { return zfs_sim({"pool-config", name}).status == 0; }

  TempRoot root_;
  zfs_session session_;
  Disks disks_;
  pool_property_list no_props_;
};

TEST_F(PoolImport, ExportThenImport) {
  std::string disk = pool("tank", "t");
  std::string tank_guid = guid("tank");
  zfs_sim_ok({"fs-create", "tank/data"});
  zfs_call_result r = export_pool(session_, "tank", false, false);
  EXPECT_EQ(r.code, 0) << r.text;
  EXPECT_FALSE(imported("tank"));
  EXPECT_EQ(label_state(disk), POOL_STATE_EXPORTED);

  r = import_pool(session_, "nope", no_props_, 0);
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.text, "no such pool available to import: nope");

  // Without mounting first, then exported with force and imported with mounts.
  r = import_pool(session_, "tank", no_props_, ZFS_IMPORT_ONLY);
  EXPECT_EQ(r.code, 0) << r.text;
  EXPECT_EQ(r.text, tank_guid);
  EXPECT_EQ(label_state(disk), POOL_STATE_ACTIVE);
  EXPECT_EQ(zfs_sim_ok({"get", "tank/data", "mounted"}), "no\n");
  EXPECT_EQ(export_pool(session_, "tank", true, false).code, 0);
  pool_property_list props;
  ASSERT_EQ(props.set("comment", "back"), 0);
  r = import_pool(session_, "tank", props, 0);
  EXPECT_EQ(r.code, 0) << r.text;
  EXPECT_EQ(zfs_sim_ok({"get", "tank/data", "mounted"}), "yes\n");
  EXPECT_EQ(zfs_sim_ok({"get", "tank", "mounted"}), "yes\n");
  EXPECT_EQ(history("tank"), (std::vector<std::string>{
                                 "ombrix-vm export pool: tank", "ombrix-vm import pool: tank",
                                 "ombrix-vm export pool: tank (force)", "ombrix-vm import pool: tank"}));

  // Hard force goes through zpool_export_force.
  zfs_sim_ok({"fail", "zpool_export_force", "--text", "still busy"});
  r = export_pool(session_, "tank", true, true);
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.text, "still busy");
  EXPECT_EQ(export_pool(session_, "tank", true, true).code, 0);
  ASSERT_EQ(import_pool(session_, "tank", no_props_, 0).code, 0);
  EXPECT_EQ(history("tank").at(4), "ombrix-vm export pool: tank(hardforce)");
}

TEST_F(PoolImport, ExportRefusals) {
  pool("tank", "t");
  zfs_sim_ok({"fs-create", "tank/data"});
  {
    zpool_ref zhp(libzfs::zpool_open(session_.handle(), "tank"));
    libzfs::zpool_enable_datasets(zhp.get(), nullptr, 0);
  }
  zfs_sim_ok({"pool-state", "tank", "unavail"});
  zfs_call_result r = export_pool(session_, "tank", false, false);
  EXPECT_EQ(r.code, -1);
  EXPECT_TRUE(imported("tank"));
  EXPECT_EQ(zfs_sim_ok({"get", "tank/data", "mounted"}), "yes\n");  // nothing was unmounted
  zfs_sim_ok({"pool-state", "tank", "active"});
  zfs_sim_ok({"fail", "zpool_disable_datasets", "--text", "busy"});
  r = export_pool(session_, "tank", false, false);
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.text, "busy");
  r = export_pool(session_, "nope", false, false);
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.text, "no such pool");
}

TEST_F(PoolImport, AmbiguousAndDestroyedNames) {
  pool("dup", "a");
  ASSERT_EQ(export_pool(session_, "dup", false, false).code, 0);
  pool("dup", "b");
  ASSERT_EQ(export_pool(session_, "dup", false, false).code, 0);
  zfs_call_result r = import_pool(session_, "dup", no_props_, 0);
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.text, "2 pools available to import are named dup; import one of them by its guid");
  EXPECT_FALSE(imported("dup"));

  pool("gone", "g");
  {
    zpool_ref zhp(libzfs::zpool_open(session_.handle(), "gone"));
    ASSERT_EQ(libzfs::zpool_destroy(zhp.get(), "test"), 0);
  }
  r = import_pool(session_, "gone", no_props_, 0);
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.text, "no such pool available to import: gone");
  EXPECT_FALSE(imported("gone"));

  // A destroyed pool beside an exported one of the same name: the exported one.
  pool("gone", "h");
  std::string wanted = guid("gone");
  ASSERT_EQ(export_pool(session_, "gone", false, false).code, 0);
  r = import_pool(session_, "gone", no_props_, 0);
  EXPECT_EQ(r.code, 0) << r.text;
  EXPECT_EQ(r.text, wanted);

  zfs_sim_ok({"fail", "zpool_import_props"});
  ASSERT_EQ(export_pool(session_, "gone", false, false).code, 0);
  r = import_pool(session_, "gone", no_props_, 0);
  EXPECT_EQ(r.text, "import pool failed: gone");
}

TEST_F(PoolImport, SetProperty) {
  pool("tank", "t");
  struct Case {
    std::string pool, name, value;
    pool_error code;
    std::string message;
  };
  for (const Case& c : std::vector<Case>{
           {"tank", "comment", "hello", pool_error::ok, ""},
           {"tank", "org.example:tag", "x", pool_error::ok, ""},
           {"nope", "colour", "red", pool_error::bad_pool_properties, "unknown pool property 'colour'"},
           {"nope", "comment", "x", pool_error::pool_not_found, "pool 'nope' not found: no such pool"},
           {"tank", "size", "1", pool_error::zfs_failure, "property 'size' can only be set at creation time"},
           {"tank", "autoexpand", "maybe", pool_error::zfs_failure, "'autoexpand' must be one of 'on | off'"},
           {"tank", "feature@lz4_compress", "enabled", pool_error::ok, ""},
           // A feature is passed on unchecked; libzfs answers.
           {"tank", "feature@lz4_compress", "off", pool_error::zfs_failure,
            "property 'feature@' can only be set to 'enabled'"},
       }) {
    pool_result r = set_pool_property(session_, c.pool, c.name, c.value);
    EXPECT_EQ(r.code, c.code) << c.name;
    EXPECT_EQ(r.message, c.message) << c.name;
  }
  zpool_ref zhp(libzfs::zpool_open(session_.handle(), "tank"));
  char text[64] = "";
  libzfs::zpool_get_prop(zhp.get(), ZPOOL_PROP_COMMENT, text, sizeof text, nullptr, B_TRUE);
  EXPECT_STREQ(text, "hello");
  EXPECT_TRUE(history("tank").empty());  // setting a property writes no history
}

TEST(PoolImportLoop, ExportAndImportOnLoopDevices) {
  ASSERT_TRUE(load_stand_ins());
  TempRoot root;
  zfs_session session;
  Disks disks;
  std::string why;
  std::string a = disks.loop("la", 4 * GiB, why);
  std::string b = a.empty() ? "" : disks.loop("lb", 4 * GiB, why);
  if (a.empty() || b.empty()) GTEST_SKIP() << why;
  pool_spec spec;
  spec.name = "looped";
  spec.vdevs = {make_vdev(vdev_type::mirror, {a, b})};
  ASSERT_TRUE(make_pool(session, spec));
  ASSERT_EQ(export_pool(session, "looped", false, false).code, 0);
  pool_property_list props;
  zfs_call_result r = import_pool(session, "looped", props, 0);
  EXPECT_EQ(r.code, 0) << r.text;
}

}  // namespace
