// Snapshot operations driven through the libzfs binding against the
// stand-in, read back with its control tool.
#include <gtest/gtest.h>

#include "storage/clones.h"
#include "storage/datasets.h"
#include "storage/rollback.h"
#include "storage/snapshots.h"
#include "storage/zvol.h"
#include "storage_test_root.h"

namespace {

using namespace storage_test;
using lines = std::vector<std::string>;
using names = std::map<std::string, std::string>;

class Snapshots : public TankTest {
 protected:
  void fs(const std::string& name) { ASSERT_GE(create_filesystem(session_, name, nullptr).code, 0); }
  void vol(const std::string& name, uint64_t size = 65536) {
    ASSERT_EQ(create_volume(session_, name, size, 8192).code, 0);
  }
  // Guid -> name of each of `datasets`.
  names by_guid(const std::vector<std::string>& datasets) {
    names result;
    for (const std::string& name : datasets) result[prop(name, "guid")] = name;
    return result;
  }

};

TEST_F(Snapshots, RecursiveSnapshotSkipsWhatIsBeingReceived) {
  fs("tank/a/fs");
  fs("tank/a/recv/child");
  vol("tank/a/vol");
  vol("tank/a/vol2");
  zfs_sim_ok({"receiving", "tank/a/recv", "on"});
  zfs_sim_ok({"receiving", "tank/a/vol2", "on"});

  dataset_result r = create_snapshot(session_, "tank/a", "s1");
  ASSERT_EQ(r.code, 0) << r.text;
  EXPECT_EQ(r.text, prop("tank/a@s1", "guid") + "|" + prop("tank/a@s1", "creation"));
  for (auto [name, taken] : {std::pair{"tank/a@s1", true}, {"tank/a/fs@s1", true},
                             {"tank/a/vol@s1", true}, {"tank/a/recv@s1", false},
                             {"tank/a/recv/child@s1", false}, {"tank/a/vol2@s1", false}})
    EXPECT_EQ(exists(name), taken) << name;
  EXPECT_EQ(history("tank").back(), "ombrix-vm snapshot   tank/a@s1");
  size_t lines_before = history("tank").size();

  struct Case {
    std::string dataset, snapshot;
    std::vector<std::string> fault;
    int code;
    std::string text;
  } cases[] = {
      {"tank/a/recv", "s2", {}, -4470,
       "Failed to create snapshot tank/a/recv@s2: dataset is inconsistent (a receive is in progress)"},
      {"tank/none", "s2", {"fail", "zfs_open", "--text", "no such dataset"}, -4470,
       "Failed to create snapshot tank/none@s2: no such dataset"},
      {"tank/a", "s1", {}, -4470,
       "Failed to create snapshot tank/a@s1: snapshot 'tank/a@s1' already exists"},
      {"tank/a", "s3", {"fail", "zfs_open", "--after", "1", "--text", "busy"}, -4480,
       "Failed to obtain snapshot guid tank/a@s3: busy"},
  };
  for (const Case& c : cases) {
    if (!c.fault.empty()) zfs_sim_ok(c.fault);
    r = create_snapshot(session_, c.dataset, c.snapshot);
    EXPECT_EQ(r.code, c.code) << c.text;
    EXPECT_EQ(r.text, c.text);
  }
  EXPECT_TRUE(exists("tank/a/fs@s3"));  // taken, though its guid could not be read
  EXPECT_EQ(history("tank").size(), lines_before);
}

TEST_F(Snapshots, DestroyByPatternAcrossTheTree) {
  fs("tank/a/b/c");
  for (const char* snap : {"tank/a/b/c@old", "tank/a@s1", "tank/a@s2", "tank/a@s3", "tank/a/b@s2"})
    zfs_sim_ok({"snapshot", snap});

  // Only the grandchild has it: the levels above without it are no failure.
  EXPECT_EQ(destroy_all_snapshots(session_, "tank/a@old"), std::nullopt);
  EXPECT_FALSE(exists("tank/a/b/c@old"));
  EXPECT_EQ(destroy_all_snapshots(session_, "tank/a@s1%s2"), std::nullopt);
  // A range needs both ends on each dataset: tank/a/b has no s1.
  for (auto [name, stays] : {std::pair{"tank/a@s1", false}, {"tank/a@s2", false},
                             {"tank/a/b@s2", true}, {"tank/a@s3", true}})
    EXPECT_EQ(exists(name), stays) << name;
  EXPECT_EQ(history("tank").back(), "ombrix-vm destroyall tank/a@s1%s2");
  size_t lines_before = history("tank").size();

  EXPECT_EQ(destroy_all_snapshots(session_, "tank/a@gone"), "could not find any snapshots to destroy");
  std::optional<std::string> error = destroy_all_snapshots(session_, "tank/none@s3");
  EXPECT_EQ(error, session_.error_description());
  vol("tank/img");
  ASSERT_EQ(clone_image_volume(session_, "tank/vm", "tank/img", 1, 65536, "").code, 0);
  error = destroy_all_snapshots(session_, "tank/img@.clone.source_1");
  EXPECT_EQ(error, "snapshot 'tank/img@.clone.source_1' has dependent clones");
  EXPECT_EQ(history("tank").size(), lines_before + 2);  // the zvol and its clone only
}

TEST_F(Snapshots, ClonesOfAVolume) {
  vol("tank/img");
  fs("tank/vms");
  ASSERT_EQ(clone_image_volume(session_, "tank/vms/a", "tank/img", 1, 65536, "").code, 0);
  ASSERT_EQ(clone_image_volume(session_, "tank/vms/b", "tank/img", 2, 65536, "").code, 0);
  std::vector<std::pair<std::string, std::string>> clones{{"earlier", "entry"}};
  EXPECT_EQ(list_volume_clones(session_, clones, "tank/img"), std::nullopt);
  EXPECT_EQ(clones, (std::vector<std::pair<std::string, std::string>>{
                        {"earlier", "entry"},
                        {"tank/vms/a", "tank/img@.clone.source_1"},
                        {"tank/vms/b", "tank/img@.clone.source_2"}}));
  clones.clear();
  std::optional<std::string> error = list_volume_clones(session_, clones, "tank/vms");
  EXPECT_EQ(error, session_.error_description());
  EXPECT_TRUE(clones.empty());
  // A walk that breaks off is a failure, not a short list.
  zfs_sim_ok({"fail", "zfs_iter_dependents", "--text", "walk broke off"});
  EXPECT_EQ(list_volume_clones(session_, clones, "tank/img"), "walk broke off");
}

TEST_F(Snapshots, RollbackRemovesNewerVolumesAndClones) {
  fs("tank/r/fs");
  vol("tank/r/old", 65536);
  ASSERT_EQ(create_snapshot(session_, "tank/r", "base").code, 0);
  names base = by_guid({"tank/r@base", "tank/r/fs@base", "tank/r/old@base"});
  std::string old_guid = prop("tank/r/old", "guid");

  vol("tank/r/new");
  uint64_t grown = 131072;
  ASSERT_EQ(resize_volume(session_, "tank/r/old", grown).code, 0);
  ASSERT_EQ(create_snapshot(session_, "tank/r", "later").code, 0);
  ASSERT_EQ(clone_image_volume(session_, "tank/c1", "tank/r/old", 0, 65536, "later").code, 0);
  ASSERT_EQ(clone_image_volume(session_, "tank/c2", "tank/r/new", 0, 65536, "later").code, 0);
  names newer = by_guid({"tank/r@later", "tank/r/fs@later", "tank/r/old@later"});
  names gone = by_guid({"tank/c1", "tank/c2", "tank/r/new"});
  size_t lines_before = history("tank").size();

  names removed_datasets{{"stale", "x"}}, removed_snapshots, rolled_back;
  std::map<std::string, uint64_t> kept_volumes;
  dataset_result r = rollback_snapshot(session_, "tank/r@base", removed_datasets, removed_snapshots,
                                       kept_volumes, rolled_back);
  ASSERT_EQ(r.code, 0) << r.text;
  EXPECT_EQ(removed_datasets, gone);
  EXPECT_EQ(removed_snapshots, newer);
  EXPECT_EQ(rolled_back, base);
  EXPECT_EQ(kept_volumes, (std::map<std::string, uint64_t>{{old_guid, 65536}}));
  for (const auto& [guid, name] : gone) EXPECT_FALSE(exists(name)) << name;
  for (const char* name : {"tank/r/new@later", "tank/r@later", "tank/r/old@later"})
    EXPECT_FALSE(exists(name)) << name;
  EXPECT_EQ(prop("tank/r/old", "volsize"), "65536");
  lines h = history("tank");
  EXPECT_EQ(lines(h.begin() + lines_before, h.end()),
            (lines{"ombrix-vm rollback   tank/r@base", "ombrix-vm rollback   tank/r/fs@base",
                   "ombrix-vm destroy    tank/c2", "ombrix-vm destroy    tank/r/new@later",
                   "ombrix-vm destroy    tank/r/new", "ombrix-vm rollback   tank/r/old@base"}));
}

TEST_F(Snapshots, FailedRollbackReportsOnlyWhatWent) {
  fs("tank/r/fs");
  ASSERT_EQ(create_snapshot(session_, "tank/r", "base").code, 0);
  ASSERT_EQ(create_snapshot(session_, "tank/r", "later").code, 0);
  names removed_datasets, removed_snapshots, rolled_back;
  std::map<std::string, uint64_t> kept_volumes;

  struct Case {
    std::string name;
    std::vector<std::string> fault;
    std::string text;
    size_t removed, rolled;
  } cases[] = {
      {"tank/r@none", {}, "Failed to rollback to snapshot tank/r@none: dataset does not exist", 0, 0},
      // The second dataset fails: the first stays rolled back.
      {"tank/r@base", {"fail", "zfs_rollback", "--after", "1", "--text", "busy"},
       "Failed to rollback to snapshot tank/r@base: Rollback from snapshot tank/r/fs@base: busy", 1, 1},
  };
  for (const Case& c : cases) {
    if (!c.fault.empty()) zfs_sim_ok(c.fault);
    dataset_result r = rollback_snapshot(session_, c.name, removed_datasets, removed_snapshots,
                                         kept_volumes, rolled_back);
    EXPECT_EQ(r.code, -4470);
    EXPECT_EQ(r.text, c.text);
    EXPECT_EQ(removed_snapshots.size(), c.removed) << c.name;
    EXPECT_EQ(rolled_back.size(), c.rolled) << c.name;
  }
  EXPECT_EQ(removed_snapshots.begin()->second, "tank/r@later");
  EXPECT_TRUE(exists("tank/r/fs@later"));
}

}  // namespace
