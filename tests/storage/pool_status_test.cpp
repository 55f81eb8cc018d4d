#include "storage/pool_status.h"

#include <gtest/gtest.h>

#include "storage/nvlist_read.h"
#include "storage/zpool_ref.h"
#include "pool_fixture.h"
#include "storage_test_root.h"

namespace {

using namespace storage_test;

class PoolStatus : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(load_stand_ins());
    std::vector<std::string> d = image_disks(disks_, "d", 6);
    pool_spec spec;
    spec.name = "tank";
    spec.vdevs = {make_vdev(vdev_type::mirror, {d[0], d[1]}),
                  make_vdev(vdev_type::raidz, {d[2], d[3], d[4]}, 1),
                  make_vdev(vdev_type::disk, {d[5]}, 0, vdev_role::log)};
    spec.spares = {disks_.image("s0", 5 * GiB), disks_.image("s1", 5 * GiB)};
    spec.l2cache = {disks_.image("c0", 5 * GiB)};
    ASSERT_TRUE(make_pool(session_, spec));
    spec = {};
    spec.name = "wide";
    vdev_spec draid = make_vdev(vdev_type::draid, image_disks(disks_, "w", 5), 1);
    draid.draid_spares = 1;
    spec.vdevs = {draid};
    ASSERT_TRUE(make_pool(session_, spec));
  }

  TempRoot root_;
  zfs_session session_;
  Disks disks_;
};

TEST_F(PoolStatus, RowsOfSeededPools) {
  zfs_sim_ok({"pool-set", "tank", "scan_stats", "[1,2,100,200,3000,2500,0,2400,1,0,0,0,0,0,2450]"});
  zfs_sim_ok({"pool-set", "tank", "error_count", "5"});
  zfs_sim_ok({"vdev-set", "tank", "/dev/d1", "read_errors", "3"});
  zfs_sim_ok({"vdev-set", "tank", "/dev/d1", "state", "6"});
  zfs_sim_ok({"vdev-set", "tank", "/dev/s0", "aux", "10"});
  zfs_sim_ok({"vdev-set", "tank", "mirror-0", "org.openzfs:rebuild_stats", "[3,10,20,30,40,50,60,70,0]"});

  std::vector<vdev_record> rows;
  inventory_result r = pool_inventory(session_, rows);
  EXPECT_EQ(r.code, 0) << r.text;
  struct Row {
    int depth;
    std::string pool, name, state, type, role, spare_state;
    bool leaf;
    uint64_t children, nparity;
  };
  std::vector<Row> expected = {
      {0, "tank", "tank", "ONLINE", "root", "", "", false, 3, 0},
      {1, "tank", "mirror-0", "ONLINE", "mirror", "", "", false, 2, 0},
      {2, "tank", "d0", "ONLINE", "disk", "", "", true, 0, 0},
      {2, "tank", "d1", "DEGRADED", "disk", "", "", true, 0, 0},
      {1, "tank", "raidz1-1", "ONLINE", "raidz", "", "", false, 3, 1},
      {2, "tank", "d2", "ONLINE", "disk", "", "", true, 0, 0},
      {2, "tank", "d3", "ONLINE", "disk", "", "", true, 0, 0},
      {2, "tank", "d4", "ONLINE", "disk", "", "", true, 0, 0},
      {1, "tank", "d5", "ONLINE", "disk", "log", "", true, 0, 0},
      {1, "tank", "s0", "ONLINE", "disk", "spare", "INUSE", true, 0, 0},
      {1, "tank", "s1", "ONLINE", "disk", "spare", "AVAIL", true, 0, 0},
      {1, "tank", "c0", "ONLINE", "disk", "cache", "", true, 0, 0},
      {0, "wide", "wide", "ONLINE", "root", "", "", false, 1, 0},
      {1, "wide", "draid1:3d:5c:1s-0", "ONLINE", "draid", "", "", false, 5, 1},
  };
  std::vector<std::string> names;
  for (const vdev_record& row : rows)
    if (row.depth < 2 || row.pool == "tank") names.push_back(row.name);
  ASSERT_EQ(rows.size(), expected.size() + 5) << ::testing::PrintToString(names);
  size_t at = 0;
  for (const vdev_record& row : rows) {
    if (row.pool == "wide" && row.depth == 2) continue;  // the draid's disks
    const Row& e = expected[at++];
    EXPECT_EQ(row.depth, e.depth) << e.name;
    EXPECT_EQ(row.pool, e.pool) << e.name;
    EXPECT_EQ(row.name, e.name);
    EXPECT_EQ(row.state, e.state) << e.name;
    EXPECT_EQ(row.type, e.type) << e.name;
    EXPECT_EQ(row.role, e.role) << e.name;
    EXPECT_EQ(row.spare_state, e.spare_state) << e.name;
    EXPECT_EQ(row.leaf, e.leaf) << e.name;
    EXPECT_EQ(row.children, e.children) << e.name;
    EXPECT_EQ(row.nparity, e.nparity) << e.name;
    EXPECT_EQ(row.path, e.leaf ? "/dev/" + e.name : "") << e.name;
    EXPECT_EQ(row.scan.has_value(), e.name == "tank") << e.name;
    EXPECT_EQ(row.error_count.has_value(), e.depth == 0) << e.name;
    EXPECT_EQ(row.rebuild.has_value(), e.name == "mirror-0") << e.name;
  }
  const vdev_record& tank = rows[0];
  EXPECT_EQ(tank.scan->function, "scrub");
  EXPECT_EQ(tank.scan->state, "finished");
  EXPECT_EQ(tank.scan->start_time, 100u);
  EXPECT_EQ(tank.scan->issued, 2450u);
  EXPECT_EQ(tank.scan->processed, 2400u);
  EXPECT_EQ(*tank.error_count, 5u);
  EXPECT_EQ(rows[1].rebuild->state, "complete");
  EXPECT_EQ(rows[1].rebuild->bytes_estimated, 70u);
  EXPECT_EQ(rows[3].read_errors, 3u);
  EXPECT_EQ(rows[9].aux, "hot spare in use by another pool");
  const vdev_record& draid = rows[13];
  EXPECT_TRUE(draid.is_draid);
  EXPECT_EQ(draid.draid_ndata, 3u);
  EXPECT_EQ(draid.draid_nspares, 1u);
  EXPECT_EQ(draid.draid_ngroups, 1u);
  EXPECT_EQ(draid.draid_children, 5u);
}

TEST_F(PoolStatus, UnreadablePoolsAndMissingHandle) {
  zfs_sim_ok({"pool-set", "wide", "unreadable", "true"});
  std::vector<vdev_record> rows = {vdev_record{}};
  inventory_result r = pool_inventory(session_, rows);
  EXPECT_EQ(r.code, 11);
  EXPECT_EQ(r.text, "zpool_iter returned success but 1 pool(s) could not be read; the snapshot is incomplete");
  ASSERT_FALSE(rows.empty());
  for (const vdev_record& row : rows) EXPECT_EQ(row.pool, "tank");

  zfs_sim_ok({"fail", "zpool_iter", "--text", "kernel went away"});
  r = pool_inventory(session_, rows);
  EXPECT_EQ(r.code, 11);
  EXPECT_EQ(r.text, "zpool_iter failed, rc=-1; last libzfs error: kernel went away");

  zfs_sim_ok({"fail", "libzfs_init"});
  zfs_session without;
  r = pool_inventory(without, rows);
  EXPECT_EQ(r.code, 12);
  EXPECT_EQ(r.text, "libzfs is not initialized");
  EXPECT_TRUE(rows.empty());
}

TEST_F(PoolStatus, IoStatistics) {
  zfs_sim_ok({"vdev-set", "tank", "/dev/d0", "vdev_stats",
              "[" + [] {
                std::string words;
                for (int i = 0; i < 48; ++i) words += (i ? "," : "") + std::to_string(i * 10);
                return words;
              }() + "]"});
  zfs_sim_ok({"vdev-set", "tank", "raidz1-1", "type", "\"indirect\""});
  std::vector<vdev_stats_record> rows = list_vdev_stats(session_, "tank");
  std::vector<std::string> names;
  for (const vdev_stats_record& row : rows) names.push_back(row.name);
  EXPECT_EQ(names, (std::vector<std::string>{"tank", "mirror-0", "d0", "d1", "d5"}));
  ASSERT_EQ(rows.size(), 5u);
  ASSERT_EQ(rows[2].stats.size(), 45u);
  EXPECT_EQ(rows[2].stats[44], 440u);
  EXPECT_EQ(rows[2].depth, 2);
  EXPECT_EQ(list_vdev_stats(session_, "").size(), rows.size() + 7);
  EXPECT_TRUE(list_vdev_stats(session_, "nopool").empty());
}

TEST_F(PoolStatus, FindDiskInTree) {
  std::string guid;
  {
    zpool_ref pool(libzfs::zpool_open(session_.handle(), "tank"));
    nvlist_t* tree = nv_list(libzfs::zpool_get_config(pool.get(), nullptr), "vdev_tree");
    nvlist_t* mirror = (*nv_lists(tree, "children"))[0];
    guid = std::to_string(*nv_uint64((*nv_lists(mirror, "children"))[1], "guid"));
  }
  auto search = [&](const std::string& wanted, std::string found = "") {
    zpool_ref pool(libzfs::zpool_open(session_.handle(), "tank"));
    nvlist_t* tree = nv_list(libzfs::zpool_get_config(pool.get(), nullptr), "vdev_tree");
    auto error = find_disk_in_vdev_tree(tree, wanted, found);
    return error ? "error: " + *error : found;
  };
  EXPECT_EQ(search("/dev/d3"), "/dev/d3");
  EXPECT_EQ(search(guid), "/dev/d1");
  EXPECT_EQ(search("/dev/s0"), "");  // spares are not searched
  EXPECT_EQ(search("/dev/d3", "/dev/d0"), "error: Possible disk '/dev/d3' duplcation in vdev_tree");
  zfs_sim_ok({"vdev-set", "tank", "/dev/d2", "whole_disk", "0"});
  EXPECT_EQ(search("/dev/d4"), "error: Not disk '/dev/d2' found in vdev_tree");
  zfs_sim_ok({"vdev-set", "tank", "/dev/d2", "whole_disk", "null"});
  EXPECT_EQ(search("/dev/d4"), "error: Cannot find key: 'whole_disk' in vdev_tree");
}

TEST(PoolStatusNames, Tables) {
  EXPECT_STREQ(vdev_aux_name(0), "");
  EXPECT_STREQ(vdev_aux_name(20), "unsupported blocksize");
  EXPECT_STREQ(vdev_aux_name(21), "");
  EXPECT_STREQ(scan_function_name(3), "errorscrub");
  EXPECT_STREQ(scan_state_name(5), "none");
  EXPECT_STREQ(rebuild_state_name(2), "canceled");
}

}  // namespace
