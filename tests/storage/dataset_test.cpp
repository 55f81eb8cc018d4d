// Dataset operations driven through the libzfs binding against the
// stand-in, read back with its control tool.
#include <gtest/gtest.h>

#include "storage/clones.h"
#include "storage/dataset_properties.h"
#include "storage/dataset_walk.h"
#include "storage/datasets.h"
#include "storage/owned_nvlist.h"
#include "storage/zvol.h"
#include "storage_test_root.h"

namespace {

using namespace storage_test;
using lines = std::vector<std::string>;

class Datasets : public TankTest {
 protected:
  // A property list of text values.
  owned_nvlist props(std::initializer_list<std::pair<const char*, const char*>> values) {
    owned_nvlist list = make_nvlist();
    for (auto [name, value] : values) nvpair::nvlist_add_string(list.get(), name, value);
    return list;
  }
  std::string fs(const std::string& name) {
    dataset_result r = create_filesystem(session_, name, nullptr);
    EXPECT_GE(r.code, 0) << r.text;
    return r.text;
  }

};

TEST_F(Datasets, RootDatasetWithItsLog) {
  owned_nvlist extra = props({{"compression", "lz4"}});
  dataset_result r = create_root_dataset(session_, "tank/area", extra.get());
  ASSERT_EQ(r.code, 0) << r.text;
  EXPECT_EQ(r.text, prop("tank/area", "guid"));
  EXPECT_EQ(prop("tank/area", "compression"), "lz4");
  EXPECT_EQ(prop("tank/area", "refreservation"), "0");
  EXPECT_EQ(prop("tank/area/log", "quota"), "104857600");
  EXPECT_EQ(prop("tank/area/log", "compression"), "lz4");  // inherited
  EXPECT_EQ(prop("tank/area", "mounted"), "yes");
  EXPECT_EQ(prop("tank/area/log", "mounted"), "yes");
  EXPECT_EQ(history("tank"), (lines{"ombrix-vm create fs  tank/area", "ombrix-vm mount fs   tank/area",
                                    "ombrix-vm create fs  tank/area/log",
                                    "ombrix-vm mount fs   tank/area/log"}));

  struct Case {
    std::string root;
    std::vector<std::string> fault;
    int code;
    std::string text;
    bool root_stays;
  } cases[] = {
      {"tank/area", {}, -21, "Failed to create root dataset: tank/area", true},
      {"tank/two", {"fail", "zfs_create", "--after", "1", "--text", "quota refused"}, -22,
       "Failed to create log dataset tank/two/log: quota refused", true},
      {"tank/three", {"fail", "zfs_prop_get", "--text", "no guid"}, -26,
       "Failed to obtain root dataset GUID tank/three: no guid", true},
  };
  for (const Case& c : cases) {
    if (!c.fault.empty()) zfs_sim_ok(c.fault);
    r = create_root_dataset(session_, c.root, nullptr);
    EXPECT_EQ(r.code, c.code) << c.root;
    EXPECT_EQ(r.text, c.text) << c.root;
    EXPECT_EQ(exists(c.root), c.root_stays) << c.root;
    EXPECT_FALSE(exists(c.root + "/log") && c.root != "tank/area") << c.root;
  }
  // The root made before a failure is on record; no log line without a log.
  lines h = history("tank");
  EXPECT_EQ(std::count(h.begin(), h.end(), "ombrix-vm create fs  tank/two"), 1);
  EXPECT_EQ(std::count(h.begin(), h.end(), "ombrix-vm create fs  tank/two/log"), 0);
}

TEST_F(Datasets, ExistenceAndGuids) {
  fs("tank/a");
  std::string pool_guid = zfs_sim_ok({"pools"});
  pool_guid = pool_guid.substr(pool_guid.rfind('\t') + 1);
  pool_guid.pop_back();
  struct Case {
    std::string name;
    int32_t type;
    bool with_creation;
    int code;
    std::string text;
  } cases[] = {
      {"tank", ZFS_TYPE_POOL, true, 0, pool_guid + "|"},
      {"tank", ZFS_TYPE_POOL, false, 0, pool_guid},
      {"tank/a", ZFS_TYPE_FILESYSTEM, false, 0, prop("tank/a", "guid")},
      {"tank/a", ZFS_TYPE_FILESYSTEM, true, 0,
       prop("tank/a", "guid") + "|" + prop("tank/a", "creation")},
      {"tank/a", ZFS_TYPE_VOLUME, false, -1, ""},  // "": libzfs's reason
      {"nopool", ZFS_TYPE_POOL, true, -1, ""},
  };
  for (const Case& c : cases) {
    dataset_result r = dataset_guid_text(session_, c.name, c.type, c.with_creation);
    EXPECT_EQ(r.code, c.code) << c.name;
    EXPECT_EQ(r.text, c.text.empty() ? session_.error_description() : c.text) << c.name;
    EXPECT_FALSE(r.text.empty()) << c.name;
  }
  EXPECT_TRUE(dataset_exists(session_, "tank/a", ZFS_TYPE_FILESYSTEM | ZFS_TYPE_VOLUME));
  EXPECT_FALSE(dataset_exists(session_, "tank/a", ZFS_TYPE_VOLUME));
  EXPECT_FALSE(dataset_exists(session_, "", ZFS_TYPE_DATASET));
  EXPECT_FALSE(dataset_exists(session_, "tank/b", ZFS_TYPE_DATASET));
}

TEST_F(Datasets, NestedFilesystemsAreMadeOnce) {
  owned_nvlist extra = props({{"com.example:role", "vm"}, {"atime", "off"}});
  dataset_result r = create_filesystem(session_, "tank/a/b", extra.get());
  ASSERT_EQ(r.code, filesystem_created) << r.text;
  EXPECT_EQ(r.text, prop("tank/a/b", "guid"));
  EXPECT_EQ(prop("tank/a/b", "com.example:role"), "vm");
  EXPECT_EQ(prop("tank/a", "atime"), "on");  // the ancestor has no properties
  EXPECT_EQ(prop("tank/a/b", "atime"), "off");
  EXPECT_EQ(history("tank"),
            (lines{"ombrix-vm create fs  tank/a", "ombrix-vm create fs  tank/a/b"}));

  dataset_result again = create_filesystem(session_, "tank/a/b", nullptr);
  EXPECT_EQ(again.code, filesystem_existed);
  EXPECT_EQ(again.text, r.text);

  uint64_t size = 65536;
  ASSERT_EQ(create_volume(session_, "tank/vol", size, 8192).code, 0);
  for (auto [name, text] : {std::pair{"tank", "Incorrect filesystem: tank"},
                            {"tank/c/", "Incorrect filesystem: tank/c/"},
                            {"tank//c", "Incorrect filesystem: tank//c"},
                            {"/tank/c", "Incorrect filesystem: /tank/c"},
                            {"pool/a", "Unknown pool name: pool"},
                            {"tank/vol/x", "Failed to create filesystem: tank/vol"},
                            {"tank/bad@name", "Failed to create filesystem: tank/bad@name"}}) {
    r = create_filesystem(session_, name, nullptr);
    EXPECT_EQ(r.code, -1) << name;
    EXPECT_EQ(r.text, text) << name;
  }
  EXPECT_EQ(history("tank").size(), 3u);  // the zvol only
  EXPECT_FALSE(exists("tank/c"));
}

TEST_F(Datasets, ImageClones) {
  uint64_t size = 1 << 20;
  ASSERT_EQ(create_volume(session_, "tank/img", size, 8192).code, 0);
  dataset_result r = clone_image_volume(session_, "tank/vm1", "tank/img", 7, 2 << 20, "");
  ASSERT_EQ(r.code, 0) << r.text;
  EXPECT_EQ(r.text, prop("tank/vm1", "guid"));
  EXPECT_EQ(prop("tank/vm1", "origin"), "tank/img@.clone.source_7");
  for (auto [property, value] : {std::pair{"volsize", "2097152"}, {"volmode", "dev"},
                                 {"sync", "disabled"}, {"reservation", "0"}})
    EXPECT_EQ(prop("tank/vm1", property), value) << property;
  // The base snapshot is taken once and used again.
  ASSERT_EQ(clone_image_volume(session_, "tank/vm2", "tank/img", 7, 2 << 20, "").code, 0);
  EXPECT_EQ(prop("tank/img@.clone.source_7", "clones"), "tank/vm1,tank/vm2");
  zfs_sim_ok({"snapshot", "tank/img@gold"});
  ASSERT_EQ(clone_image_volume(session_, "tank/vm3", "tank/img", 0, 2 << 20, "gold").code, 0);
  EXPECT_EQ(prop("tank/vm3", "origin"), "tank/img@gold");
  lines expected{"ombrix-vm create vol tank/img",
                 "ombrix-vm clone  vol tank/vm1 <== tank/img@.clone.source_7",
                 "ombrix-vm clone  vol tank/vm2 <== tank/img@.clone.source_7",
                 "ombrix-vm clone  vol tank/vm3 <== tank/img@gold"};
  EXPECT_EQ(history("tank"), expected);

  struct Case {
    std::string target, origin, snapshot;
    std::vector<std::string> fault;
    int code;
    std::string text;
  } cases[] = {
      {"tank/vm1", "tank/img", "", {}, -24, "Destination volume already exists: tank/vm1"},
      {"tank/x", "tank/none", "", {}, -23, "Origin volume not found: tank/none"},
      {"tank/x", "tank/img", "silver", {}, -23, "Origin snapshot not found: tank/img@silver"},
      {"tank/x", "tank/img", "", {"fail", "zfs_snapshot", "--text", "no space"}, -23,
       "Failed to create base snapshot for cloud image: tank/img: no space"},
      // A snapshot that exists but cannot be opened is a failure, not success.
      {"tank/x", "tank/img", "gold", {"fail", "zfs_open", "--text", "busy"}, -23,
       "Failed to open base snapshot tank/img@gold: busy"},
      {"tank/x", "tank/img", "gold", {"fail", "zfs_clone", "--text", "quota"}, -24,
       "Failed to clone cloud image volume tank/x: quota. Source snapshot: tank/img@gold"},
      {"tank/x", "tank/img", "gold", {"fail", "zfs_open", "--after", "1", "--text", "gone"}, -25,
       "Failed to obtain cloned volume guid tank/x: gone"},
  };
  for (const Case& c : cases) {
    if (!c.fault.empty()) zfs_sim_ok(c.fault);
    r = clone_image_volume(session_, c.target, c.origin, 9, 2 << 20, c.snapshot);
    EXPECT_EQ(r.code, c.code) << c.text;
    EXPECT_EQ(r.text, c.text);
  }
  EXPECT_FALSE(exists("tank/img@.clone.source_9"));
  expected.push_back("ombrix-vm clone  vol tank/x <== tank/img@gold");  // the clone without guid
  EXPECT_EQ(history("tank"), expected);
}

TEST_F(Datasets, FilesystemClones) {
  fs("tank/a");
  zfs_sim_ok({"snapshot", "tank/a@s"});
  owned_nvlist extra = props({{"com.example:role", "copy"}});
  dataset_result r = clone_filesystem(session_, "tank/a@s", "tank/x/y/c", extra.get());
  ASSERT_EQ(r.code, 0) << r.text;
  EXPECT_EQ(r.text, prop("tank/x/y/c", "guid"));
  EXPECT_EQ(prop("tank/x/y/c", "origin"), "tank/a@s");
  EXPECT_EQ(prop("tank/x/y/c", "com.example:role"), "copy");
  EXPECT_EQ(prop("tank/x/y/c", "mounted"), "yes");
  lines h = history("tank");
  EXPECT_EQ(lines(h.end() - 2, h.end()),
            (lines{"ombrix-vm clone fs   tank/x/y/c <== tank/a@s", "ombrix-vm mount fs   tank/x/y/c"}));

  for (auto [origin, target, text] :
       {std::tuple{"tank/a@s", "tank/x/y/c", "Destination filesistem already exists: tank/x/y/c"},
        {"tank/a@none", "tank/d", "Incorrect snapshot: tank/a@none"},
        {"tank/a", "tank/d", "Incorrect snapshot: tank/a"}}) {
    r = clone_filesystem(session_, origin, target, nullptr);
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.text, text);
  }
  zfs_sim_ok({"fail", "zfs_clone", "--text", "no space"});
  r = clone_filesystem(session_, "tank/a@s", "tank/d", nullptr);
  EXPECT_EQ(r.text, "Failed to clone tank/d: no space. Source snapshot: tank/a@s");
  EXPECT_EQ(history("tank").size(), h.size());
}

TEST_F(Datasets, WalksFilterTypesDepthAndNames) {
  fs("tank/a/b/c");
  fs("tank/a/d");
  uint64_t size = 65536;
  ASSERT_EQ(create_volume(session_, "tank/a/vol", size, 8192).code, 0);
  zfs_sim_ok({"snapshot", "tank/a@s1"});
  zfs_sim_ok({"snapshot", "tank/a/d@s2"});
  zfs_sim_ok({"pool-create", "pool2"});

  auto names = [](const dataset_map& map) {
    std::vector<std::string> result;
    for (const auto& [name, entry] : map) result.push_back(name + ":" + std::to_string(entry.type));
    return result;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(names(list_root_datasets(session_, "", 1, 0)), (V{"pool2:1", "tank:1"}));
  EXPECT_EQ(names(list_root_datasets(session_, "", 7, 1)),
            (V{"pool2:1", "tank:1", "tank/a:1", "tank/a@s1:2"}));
  EXPECT_EQ(names(list_root_datasets(session_, "", 5, UINT64_MAX)),
            (V{"pool2:1", "tank:1", "tank/a:1", "tank/a/b:1", "tank/a/b/c:1", "tank/a/d:1",
               "tank/a/vol:4"}));
  // libzfs counts the parent's snapshots among its children.
  EXPECT_EQ(names(list_child_datasets(session_, "tank/a", "", 3, 0, {})),
            (V{"tank/a/b:1", "tank/a/d:1", "tank/a/d@s2:2", "tank/a@s1:2"}));
  EXPECT_EQ(names(list_child_datasets(session_, "tank", "", 7, 5, {"d", "c"})),
            (V{"tank/a/b/c:1", "tank/a/d:1", "tank/a/d@s2:2", "tank/a@s1:2"}));
  EXPECT_EQ(names(list_child_datasets(session_, "tank/a/vol", "", 4, 0, {})), V{});
  EXPECT_TRUE(list_child_datasets(session_, "tank/none", "", 7, 5, {}).empty());

  dataset_map filtered = list_child_datasets(session_, "tank/a", " refer ,volsize,name", 4, 0, {});
  ASSERT_EQ(filtered.size(), 1u);
  const dataset_property_list& props = filtered.at("tank/a/vol").properties;
  std::vector<std::string> keys;
  for (const auto& [key, value] : props.values()) keys.push_back(key);
  EXPECT_EQ(keys, (V{"name", "referenced", "volsize"}));
  EXPECT_EQ(props.get_uint("volsize", 0), 65536u);
  EXPECT_EQ(props.get_text("name", ""), "tank/a/vol");
}

TEST_F(Datasets, SetInheritAndReadProperties) {
  fs("tank/a/b");
  zfs_sim_ok({"set", "tank/a", "com.example:tier", "gold"});
  owned_nvlist values = props({{"com.example:tier", "silver"}, {"compression", "zstd"}});
  dataset_result r = set_dataset_properties(session_, "tank/a/b", values.get(), ZFS_TYPE_FILESYSTEM);
  ASSERT_EQ(r.code, 0) << r.text;

  dataset_property_list read;
  ASSERT_EQ(get_dataset_properties(session_, read, "tank/a/b", ZFS_TYPE_FILESYSTEM).code, 0);
  EXPECT_EQ(read.get_text("com.example:tier", ""), "silver");
  EXPECT_EQ(read.get_uint("compression", 0), 6u);  // index properties as their index
  EXPECT_EQ(read.get_text("type", ""), "filesystem");
  EXPECT_EQ(read.get_text("guid", ""), prop("tank/a/b", "guid"));
  EXPECT_FALSE(read.values().count("volsize"));

  r = inherit_dataset_property(session_, "tank/a/b", "com.example:tier, compression");
  ASSERT_EQ(r.code, 0) << r.text;
  EXPECT_EQ(prop("tank/a/b", "com.example:tier"), "gold");
  EXPECT_EQ(prop("tank/a/b", "compression"), "zstd");  // only user properties are inherited

  struct Case {
    std::string name, names;
    std::vector<std::string> fault;
    int code;
    std::string text;
  } cases[] = {
      {"tank/a/b", "compression", {"fail", "zfs_open"}, 0, ""},  // nothing to open
      {"tank/none", "com.example:tier", {}, -1, ""},
      // A refused inherit is reported, not lost.
      {"tank/a/b", "com.example:tier", {"fail", "zfs_prop_inherit", "--text", "read-only pool"}, -1,
       "Failed to inherit com.example:tier of tank/a/b: read-only pool"},
  };
  for (const Case& c : cases) {
    if (!c.fault.empty()) zfs_sim_ok(c.fault);
    r = inherit_dataset_property(session_, c.name, c.names);
    EXPECT_EQ(r.code, c.code) << c.names;
    if (!c.text.empty()) {
      EXPECT_EQ(r.text, c.text);
    }
  }
  zfs_sim_ok({"clear-faults"});

  dataset_property_list none;
  r = get_dataset_properties(session_, none, "tank/none", ZFS_TYPE_FILESYSTEM);
  EXPECT_EQ(r.code, -13);
  EXPECT_EQ(r.text, session_.error_description());
  for (auto [code, text] : {std::pair{2027, "property may be set but unable to remount filesystem"},
                            {2030, "property may be set but unable to reshare filesystem"},
                            {2001, "bad value"}}) {
    zfs_sim_ok({"fail", "zfs_prop_set_list", "--errno", std::to_string(code), "--text", "bad value"});
    r = set_dataset_properties(session_, "tank/a/b", values.get(), ZFS_TYPE_FILESYSTEM);
    EXPECT_EQ(r.code, -1);
    EXPECT_EQ(r.text, text);
  }
  r = set_dataset_properties(session_, "tank/a/b", values.get(), ZFS_TYPE_VOLUME);
  EXPECT_EQ(r.text, "Failed to open: tank/a/b: " + session_.error_description());
}

TEST_F(Datasets, RenameKeepsTheGuid) {
  std::string guid = fs("tank/a/b");
  fs("tank/c");
  dataset_result r = rename_filesystem(session_, "tank/c/moved", "tank/a");
  ASSERT_EQ(r.code, 0) << r.text;
  EXPECT_EQ(prop("tank/c/moved/b", "guid"), guid);
  EXPECT_FALSE(exists("tank/a"));
  EXPECT_EQ(history("tank").back(), "ombrix-vm rename fs tank/a => tank/c/moved");

  size_t lines_before = history("tank").size();
  EXPECT_EQ(rename_filesystem(session_, "tank/x", "tank/a").code, -1);
  r = rename_filesystem(session_, "tank/c", "tank/c/moved");
  EXPECT_EQ(r.code, -3);
  EXPECT_EQ(r.text, session_.error_description());
  zfs_sim_ok({"fail", "zfs_prop_get", "--text", "no guid"});
  r = rename_filesystem(session_, "tank/back", "tank/c/moved");
  EXPECT_EQ(r.code, -2);
  EXPECT_EQ(r.text, "Failed to obtain filesystem GUID tank/back: no guid");
  EXPECT_EQ(history("tank").size(), lines_before + 1);
}

TEST_F(Datasets, DestroyTakesDependentsAlong) {
  fs("tank/a/b");
  zfs_sim_ok({"snapshot", "tank/a@s"});
  ASSERT_EQ(clone_filesystem(session_, "tank/a@s", "tank/c", nullptr).code, 0);
  fs("tank/keep");
  size_t before = history("tank").size();

  ASSERT_EQ(destroy_filesystem(session_, "tank/a"), std::nullopt);
  for (const char* gone : {"tank/a", "tank/a/b", "tank/a@s", "tank/c"}) EXPECT_FALSE(exists(gone)) << gone;
  EXPECT_TRUE(exists("tank/keep"));
  lines h = history("tank");
  EXPECT_EQ(lines(h.begin() + before, h.end()),
            (lines{"ombrix-vm unmountall tank/a", "ombrix-vm destroy    tank/a/b",
                   "ombrix-vm destroy    tank/c", "ombrix-vm destroy    tank/a@s",
                   "ombrix-vm destroy    tank/a"}));

  fs("tank/p/q");
  fs("tank/p/r");
  zfs_sim_ok({"fail", "zfs_destroy", "--after", "1", "--text", "dataset is busy"});
  std::optional<std::string> error = destroy_filesystem(session_, "tank/p");
  EXPECT_EQ(error, "Failed to destroy tank/p/r: dataset is busy. Already destroyed: tank/p/q");
  EXPECT_TRUE(exists("tank/p/r"));
  error = destroy_filesystem(session_, "tank/none");
  EXPECT_EQ(error, session_.error_description());
}

TEST_F(Datasets, DestroyRefusesPoolsAndEmptyComponentsUntouched) {
  fs("tank/a/b");
  fs("tank/c");
  size_t before = history("tank").size();
  for (std::string name : {"tank", "tank/a/", "tank//a", "/tank/a"})
    EXPECT_EQ(destroy_filesystem(session_, name), "Incorrect filesystem: " + name);
  for (const char* kept : {"tank", "tank/a", "tank/a/b", "tank/c"}) EXPECT_TRUE(exists(kept)) << kept;
  EXPECT_EQ(history("tank").size(), before);
}

}  // namespace
