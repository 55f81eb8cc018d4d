#include "storage/pool_add.h"

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

#include "storage/pool_create.h"
#include "pool_fixture.h"
#include "storage_test_root.h"

namespace {

using namespace storage_test;
using nlohmann::json;

class PoolAdd : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(load_stand_ins()); }

  vdev_spec vdev(vdev_type type, int count, uint64_t parity = 0, vdev_role role = vdev_role::data) {
    return make_vdev(type, image_disks(disks_, "d" + std::to_string(next_++) + "_", count), parity, role);
  }
  void pool(const std::string& name, std::vector<vdev_spec> vdevs) {
    pool_spec spec;
    spec.name = name;
    spec.vdevs = std::move(vdevs);
    ASSERT_TRUE(make_pool(session_, spec));
  }
  pool_spec adding(std::vector<vdev_spec> vdevs, bool force = false) {
    pool_spec spec;
    spec.vdevs = std::move(vdevs);
    spec.force = force;
    return spec;
  }

  TempRoot root_;
  zfs_session session_;
  Disks disks_;
  int next_ = 0;
};

TEST_F(PoolAdd, NewVdevsRepeatTheRedundancy) {
  pool("mir", {vdev(vdev_type::mirror, 2), vdev(vdev_type::mirror, 2), vdev(vdev_type::disk, 1, 0, vdev_role::log)});
  pool("rz2", {vdev(vdev_type::raidz, 6, 2)});
  pool("mixed", {vdev(vdev_type::mirror, 2), vdev(vdev_type::mirror, 3)});
  const std::string widening =
      ". An existing dRAID group cannot be widened, and RAIDZ expansion is not supported by the controller; a new "
      "top-level vdev must repeat the existing geometry";
  struct Case {
    std::string pool;
    pool_spec spec;
    std::string message;  // "" when added
  };
  std::vector<Case> cases = {
      {"mir", adding({vdev(vdev_type::mirror, 3)}),
       "mismatched replication level: pool consists of mirror of 2 devices, requested vdev is mirror of 3 devices"},
      {"mir", adding({vdev(vdev_type::disk, 1)}),
       "mismatched replication level: pool consists of mirror of 2 devices, requested vdev is disk of 1 devices"},
      {"rz2", adding({vdev(vdev_type::raidz, 8, 2)}),
       "mismatched replication level: pool consists of raidz2 of 6 devices, requested vdev is raidz2 of 8 devices" +
           widening},
      {"rz2", adding({vdev(vdev_type::raidz, 6, 1)}),
       "mismatched replication level: pool consists of raidz2 of 6 devices, requested vdev is raidz1 of 6 "
       "devices; parity levels differ"},
      {"mir", adding({vdev(vdev_type::mirror, 3)}, true), ""},
      {"mir", adding({vdev(vdev_type::mirror, 2), vdev(vdev_type::mirror, 2, 0, vdev_role::log)}), ""},
      {"mir", adding({vdev(vdev_type::raidz, 3, 1)}), ""},
      {"rz2", adding({vdev(vdev_type::raidz, 6, 2)}), ""},
      {"rz2", adding({vdev(vdev_type::draid, 6, 2)}), ""},
      {"rz2", adding({vdev(vdev_type::mirror, 3)}), ""},
      {"mixed", adding({vdev(vdev_type::raidz, 7, 3)}), ""},
  };
  for (const Case& c : cases) {
    size_t before = json::parse(zfs_sim_ok({"pool-config", c.pool}))["vdev_tree"]["children"].size();
    pool_result r = add_vdev(session_, c.pool, c.spec);
    std::string what = c.pool + " + " + describe_vdev_geometry({vdev_type_name(c.spec.vdevs[0].type),
                                                                 c.spec.vdevs[0].devices.size(), c.spec.vdevs[0].parity});
    if (!c.message.empty()) {
      EXPECT_EQ(r.message, c.message) << what;
    }
    EXPECT_EQ(r.code, c.message.empty() ? pool_error::ok : pool_error::redundancy_mismatch) << what;
    size_t after = json::parse(zfs_sim_ok({"pool-config", c.pool}))["vdev_tree"]["children"].size();
    EXPECT_EQ(after - before, c.message.empty() ? c.spec.vdevs.size() : 0u) << what;
    if (c.message.empty()) {
      EXPECT_EQ(r.message, json::parse(zfs_sim_ok({"pool-config", c.pool}))["pool_guid"].dump()) << what;
    }
  }
  std::vector<std::string> lines = history("mir");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "ombrix-vm add vdev to pool: mir");
}

TEST_F(PoolAdd, RefusalsBeforeAnythingIsWritten) {
  pool_spec base;
  base.name = "tank";
  base.vdevs = {vdev(vdev_type::mirror, 2)};
  base.spares = {disks_.image("spare0", 5 * GiB)};
  ASSERT_TRUE(make_pool(session_, base));
  pool("holey", {vdev(vdev_type::mirror, 2), vdev(vdev_type::mirror, 2)});
  zfs_sim_ok({"vdev-set", "holey", "mirror-1", "type", "\"indirect\""});
  vdev_spec with_spare = vdev(vdev_type::mirror, 2);
  with_spare.devices[1] = "/dev/spare0";
  struct Case {
    std::string pool;
    pool_spec spec;
    pool_error code;
    std::string message;
  };
  std::vector<Case> cases = {
      {"nope", adding({vdev(vdev_type::mirror, 2)}), pool_error::pool_not_found,
       "pool 'nope' not found: no such pool"},
      {"tank", adding({}), pool_error::bad_request, "no vdevs specified"},
      {"tank", adding({vdev(vdev_type::mirror, 1)}), pool_error::bad_geometry,
       "a mirror needs at least two devices, 1 provided"},
      {"tank", adding({with_spare}), pool_error::device_in_use,
       "'/dev/spare0' is reserved as a hot spare of pool 'tank'"},
      {"tank", adding({with_spare}, true), pool_error::device_in_use,
       "'/dev/spare0' is reserved as a hot spare of pool 'tank'"},
      {"holey", adding({vdev(vdev_type::raidz, 3, 1)}), pool_error::unsupported,
       "pool 'holey' contains removed (indirect) vdevs and does not support adding raidz or dRAID vdevs"},
      {"holey", adding({vdev(vdev_type::mirror, 2)}), pool_error::ok, ""},
  };
  for (const Case& c : cases) {
    pool_result r = add_vdev(session_, c.pool, c.spec);
    EXPECT_EQ(r.code, c.code) << c.message;
    if (c.code != pool_error::ok) {
      EXPECT_EQ(r.message, c.message);
    }
  }
  // A device the pool lists as its own member: its label speaks first.
  std::string member = json::parse(zfs_sim_ok({"pool-config", "tank"}))["vdev_tree"]["children"][0]["children"][0]["path"];
  vdev_spec again = vdev(vdev_type::mirror, 2);
  again.devices[0] = member;
  pool_result r = add_vdev(session_, "tank", adding({again}, true));
  EXPECT_EQ(r.code, pool_error::device_in_use);

  // Dry runs and failures of zpool_add.
  pool_spec dry = adding({vdev(vdev_type::mirror, 2)});
  dry.dry_run = true;
  EXPECT_TRUE(add_vdev(session_, "tank", dry).ok());
  EXPECT_EQ(zfs_sim_ok({"label", dry.vdevs[0].devices[0]}), "");
  zfs_sim_ok({"fail", "zpool_add", "--text", "no room"});
  r = add_vdev(session_, "tank", adding({vdev(vdev_type::mirror, 2)}));
  EXPECT_EQ(r.code, pool_error::zfs_failure);
  EXPECT_EQ(r.message,
            "failed to add vdev to pool 'tank': no room. ZFS labels on the listed devices have been cleared");
}

TEST_F(PoolAdd, LeavesTakeThePoolsAshift) {
  pool_spec spec;
  spec.name = "a12";
  spec.ashift = 12;
  spec.vdevs = {vdev(vdev_type::mirror, 2)};
  pool_property_list props;
  dataset_property_list fs_props;
  ASSERT_TRUE(create_pool(session_, spec, props, fs_props).ok());
  pool("plain", {vdev(vdev_type::mirror, 2)});
  ASSERT_TRUE(add_vdev(session_, "a12", adding({vdev(vdev_type::mirror, 2)})).ok());
  ASSERT_TRUE(add_vdev(session_, "plain", adding({vdev(vdev_type::mirror, 2)})).ok());
  json a12 = json::parse(zfs_sim_ok({"pool-config", "a12"}))["vdev_tree"]["children"][1];
  json plain = json::parse(zfs_sim_ok({"pool-config", "plain"}))["vdev_tree"]["children"][1];
  EXPECT_EQ(a12["children"][0]["ashift"], 12);
  EXPECT_FALSE(plain["children"][0].contains("ashift"));
}

TEST(PoolAddTexts, ExpansionRefusals) {
  pool_result r = expansion_refusal_text("tank", "raidz1-0", "raidz");
  EXPECT_EQ(r.code, pool_error::unsupported);
  EXPECT_TRUE(r.message.starts_with("RAIDZ vdev 'raidz1-0' cannot be expanded by this method")) << r.message;
  EXPECT_TRUE(expansion_refusal_text("tank", "d", "draid").message.ends_with("keeping pool property autoexpand=on"));
  EXPECT_EQ(expansion_refusal_text("tank", "mirror-0", "mirror").message,
            "vdev 'mirror-0' cannot be expanded by this method. To grow pool 'tank', add a NEW top-level vdev of "
            "the same geometry");
}

}  // namespace
