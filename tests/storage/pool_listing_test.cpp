#include "storage/pool_listing.h"

#include <gtest/gtest.h>

#include "storage/pool_import.h"
#include "storage/zpool_ref.h"
#include "pool_fixture.h"
#include "storage_test_root.h"

namespace {

using namespace storage_test;

class PoolListing : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(load_stand_ins()); }

  void pool(const std::string& name) {
    pool_spec spec;
    spec.name = name;
    spec.vdevs = {make_vdev(vdev_type::mirror, image_disks(disks_, name, 2))};
    ASSERT_TRUE(make_pool(session_, spec));
  }

  TempRoot root_;
  zfs_session session_;
  Disks disks_;
};

TEST_F(PoolListing, PropertiesAndFeatures) {
  pool("tank");
  pool("other");
  zfs_sim_ok({"pool-set", "tank", "features", R"({"lz4_compress": 1, "async_destroy": 0, "com.example:foreign": 2})"});
  ASSERT_TRUE(set_pool_property(session_, "tank", "comment", "hi").ok());
  // The first property read of the first pool fails.
  zfs_sim_ok({"fail", "zpool_get_prop"});
  auto pools = list_pool_records(session_);
  ASSERT_EQ(pools.size(), 2u);
  ASSERT_TRUE(pools.contains("tank"));
  const pool_property_map& other = pools["other"];
  const pool_property_map& tank = pools["tank"];
  std::string guid = [&] {
    zpool_ref zhp(libzfs::zpool_open(session_.handle(), "tank"));
    return std::to_string(libzfs::zpool_get_prop_int(zhp.get(), ZPOOL_PROP_GUID, nullptr));
  }();
  struct Case {
    std::string name, value;
    uint64_t number;
    int32_t source;
  };
  for (const Case& c : std::vector<Case>{
           {"name", "tank", UINT64_MAX, ZPROP_SRC_NONE},
           {"guid", guid, std::stoull(guid), ZPROP_SRC_NONE},
           {"comment", "hi", UINT64_MAX, ZPROP_SRC_LOCAL},
           {"autoexpand", "off", 0, ZPROP_SRC_DEFAULT},
           {"feature@lz4_compress", "active", UINT64_MAX, ZPROP_SRC_LOCAL},
           {"feature@async_destroy", "enabled", UINT64_MAX, ZPROP_SRC_LOCAL},
           {"feature@encryption", "disabled", UINT64_MAX, ZPROP_SRC_LOCAL},
           {"unsupported@com.example:foreign", "inactive", UINT64_MAX, ZPROP_SRC_LOCAL},
       }) {
    ASSERT_TRUE(tank.contains(c.name)) << c.name;
    const pool_property& p = tank.at(c.name);
    EXPECT_EQ(p.value, c.value) << c.name;
    EXPECT_EQ(p.number, c.number) << c.name;
    EXPECT_EQ(p.source, c.source) << c.name;
  }
  EXPECT_FALSE(tank.contains("unsupported@org.illumos:lz4_compress"));
  // "other" came first and lost its first property.
  const pool_property& unread = other.at("name");
  EXPECT_EQ(unread.value, "-");
  EXPECT_EQ(unread.number, UINT64_MAX);
  EXPECT_EQ(unread.source, ZPROP_SRC_NONE);
  EXPECT_EQ(other.at("feature@lz4_compress").value, "disabled");
}

TEST_F(PoolListing, ImportablePools) {
  pool("exp");
  pool("dead");
  pool("live");
  zfs_sim_ok({"vdev-set", "exp", "root", "state", "6"});
  ASSERT_EQ(export_pool(session_, "exp", false, false).code, 0);
  {
    zpool_ref zhp(libzfs::zpool_open(session_.handle(), "dead"));
    ASSERT_EQ(libzfs::zpool_destroy(zhp.get(), "test"), 0);
  }
  auto pools = list_importable_pools(session_);
  EXPECT_EQ(pools, (std::unordered_map<std::string, std::string>{{"exp", "DEGRADED"}}));
  EXPECT_LE(pools.max_load_factor(), 1.0f);

  zfs_sim_ok({"fail", "libzfs_init"});
  zfs_session without;
  EXPECT_TRUE(list_importable_pools(without).empty());
  EXPECT_TRUE(list_pool_records(without).empty());
}

}  // namespace
