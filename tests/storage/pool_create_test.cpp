#include "storage/pool_create.h"

#include <functional>

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

#include "storage/device_check.h"
#include "storage/pool_import.h"
#include "storage/zpool_ref.h"
#include "pool_fixture.h"
#include "storage_test_root.h"

namespace {

using namespace storage_test;
using nlohmann::json;

class PoolCreate : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(load_stand_ins()); }

  pool_spec mirror_spec(const std::string& name, int mirrors = 1) {
    pool_spec spec;
    spec.name = name;
    for (int i = 0; i < mirrors; ++i)
      spec.vdevs.push_back(make_vdev(vdev_type::mirror, image_disks(disks_, name + std::to_string(i) + "m", 2)));
    return spec;
  }
  pool_result create(const pool_spec& spec) {
    pool_property_list props;
    return create_pool(session_, spec, props, fs_props_);
  }
  json config(const std::string& pool) { return json::parse(zfs_sim_ok({"pool-config", pool})); }
  bool exists(const std::string& pool) { return zfs_sim({"pool-config", pool}).status == 0; }
  std::string feature(const std::string& pool, const std::string& name) {
    zpool_ref handle(libzfs::zpool_open(session_.handle(), pool.c_str()));
    char text[64] = "";
    if (libzfs::zpool_prop_get_feature(handle.get(), ("feature@" + name).c_str(), text, sizeof text) != 0)
      return "error";
    return text;
  }
  std::string prop(const std::string& pool, zpool_prop_t id, zprop_source_t* source = nullptr) {
    zpool_ref handle(libzfs::zpool_open(session_.handle(), pool.c_str()));
    char text[256] = "";
    libzfs::zpool_get_prop(handle.get(), id, text, sizeof text, source, B_TRUE);
    return text;
  }

  TempRoot root_;
  zfs_session session_;
  Disks disks_;
  dataset_property_list fs_props_;
};

TEST_F(PoolCreate, MirrorRaidzAndDraidPools) {
  pool_spec spec = mirror_spec("tank", 2);
  spec.ashift = 12;
  spec.spares = {disks_.image("sp", 5 * GiB)};
  spec.features_disabled = {"encryption"};
  spec.mount_datasets = true;
  pool_property_list props;
  ASSERT_EQ(props.set("comment", "first"), 0);
  ASSERT_EQ(props.set("org.example:owner", "ops"), 0);
  ASSERT_EQ(props.set("feature@lz4_compress", "enabled"), 0);
  pool_result r = create_pool(session_, spec, props, fs_props_);
  ASSERT_EQ(r.code, pool_error::ok) << r.message;
  EXPECT_EQ(r.message, prop("tank", ZPOOL_PROP_GUID));
  EXPECT_EQ(history("tank"), std::vector<std::string>{"ombrix-vm create pool: tank mirror mirror"});
  zprop_source_t source = ZPROP_SRC_NONE;
  EXPECT_EQ(prop("tank", ZPOOL_PROP_ASHIFT, &source), "12");
  EXPECT_EQ(source, ZPROP_SRC_LOCAL);
  EXPECT_EQ(prop("tank", ZPOOL_PROP_COMMENT), "first");
  EXPECT_EQ(feature("tank", "lz4_compress"), "enabled");
  EXPECT_EQ(feature("tank", "draid"), "enabled");
  EXPECT_EQ(feature("tank", "encryption"), "disabled");
  EXPECT_EQ(feature("tank", "zilsaxattr"), "disabled");  // not supported by the kernel
  EXPECT_EQ(zfs_sim_ok({"get", "tank", "mounted"}), "yes\n");
  // Every leaf, spares too, carries the ashift; interior vdevs do not.
  json tree = config("tank")["vdev_tree"];
  EXPECT_FALSE(tree["children"][0].contains("ashift"));
  EXPECT_EQ(tree["children"][1]["children"][1]["ashift"], 12);
  EXPECT_EQ(tree["spares"][0]["ashift"], 12);

  spec = {};
  spec.name = "rz";
  spec.vdevs = {make_vdev(vdev_type::raidz, image_disks(disks_, "r", 4), 2)};
  r = create(spec);
  ASSERT_EQ(r.code, pool_error::ok) << r.message;
  EXPECT_EQ(history("rz"), std::vector<std::string>{"ombrix-vm create pool: rz raidz2"});
  EXPECT_EQ(config("rz")["vdev_tree"]["children"][0]["nparity"], 2);
  EXPECT_EQ(zfs_sim_ok({"get", "rz", "mounted"}), "no\n");

  spec.name = "dr";
  spec.vdevs = {make_vdev(vdev_type::draid, image_disks(disks_, "dr", 14), 2)};
  spec.vdevs[0].draid_spares = 2;
  r = create(spec);
  ASSERT_EQ(r.code, pool_error::ok) << r.message;
  EXPECT_EQ(history("dr"), std::vector<std::string>{"ombrix-vm create pool: dr draid2:8d:14c:2s"});
  EXPECT_EQ(config("dr")["vdev_tree"]["children"][0]["draid_ngroups"], 6);
}

TEST_F(PoolCreate, RefusalsWriteNothing) {
  const std::string mark(4096, 'M');
  pool_spec existing = mirror_spec("live");
  ASSERT_TRUE(create(existing).ok());
  struct Case {
    std::string what;
    pool_spec spec;
    std::vector<std::pair<std::string, std::string>> props;
    pool_error code;
    std::string message;
  };
  auto spec_with = [&](const std::string& name, auto change) {
    pool_spec spec = mirror_spec(name);
    change(spec);
    return spec;
  };
  auto none = [](pool_spec&) {};
  std::vector<Case> cases = {
      {"dry run", spec_with("dry", [](pool_spec& s) { s.dry_run = true; }), {}, pool_error::ok, ""},
      {"bad name", spec_with("1x", none), {}, pool_error::bad_request, "pool name '1x' must begin with a letter"},
      {"feature off", spec_with("f", none), {{"feature@lz4_compress", "disabled"}},
       pool_error::bad_pool_properties,
       "pool property 'feature@lz4_compress' may only be set to 'enabled' here; to disable a feature use "
       "pool_spec::features_disabled - the kernel enables any feature whose entry is merely present in the "
       "properties"},
      {"unknown property", spec_with("u", none), {{"colour", "blue"}}, pool_error::bad_pool_properties,
       "unknown pool property 'colour'"},
      {"exists", spec_with("e", [](pool_spec& s) { s.name = "live", s.vdevs[0].devices = {"/dev/x", "/dev/y"}; }), {},
       pool_error::pool_exists, "pool 'live' already exists"},
      {"geometry", spec_with("g", [](pool_spec& s) { s.vdevs[0].type = vdev_type::raidz, s.vdevs[0].parity = 2; }),
       {}, pool_error::bad_geometry, "raidz2 needs at least 3 devices, 2 provided"},
      {"device in use", spec_with("b", [&](pool_spec& s) { s.vdevs[0].devices[1] = existing.vdevs[0].devices[0]; }),
       {}, pool_error::device_in_use, "'/dev/live0m0' belongs to active pool 'live'"},
  };
  for (const Case& c : cases) {
    for (const std::string& disk : collect_spec_devices(c.spec))
      if (disk.starts_with("/dev/b") || disk.starts_with("/dev/dry")) Disks::write(disk, 0, mark);
    pool_property_list props;
    for (const auto& [name, value] : c.props) props.set(name, value);
    pool_result r = create_pool(session_, c.spec, props, fs_props_);
    EXPECT_EQ(r.code, c.code) << c.what;
    EXPECT_EQ(r.message, c.message) << c.what;
    if (c.spec.name != "live") {
      EXPECT_FALSE(exists(c.spec.name)) << c.what;
    }
    for (const std::string& disk : collect_spec_devices(c.spec)) {
      if (disk.starts_with("/dev/b") || disk.starts_with("/dev/dry")) {
        EXPECT_EQ(Disks::read(disk, 0, 4096), mark) << c.what;
      }
    }
  }
  // The same feature key set to "enabled" is accepted.
  pool_property_list props;
  ASSERT_EQ(props.set("feature@lz4_compress", "enabled"), 0);
  EXPECT_TRUE(create_pool(session_, mirror_spec("ok1"), props, fs_props_).ok());
  EXPECT_EQ(check_pool_property("comment").code, pool_error::ok);
  EXPECT_EQ(check_pool_property("any:thing").code, pool_error::ok);
}

TEST_F(PoolCreate, ExportedDevicesNeedForce) {
  pool_spec old = mirror_spec("old");
  ASSERT_TRUE(create(old).ok());
  {
    zpool_ref pool(libzfs::zpool_open(session_.handle(), "old"));
    ASSERT_EQ(libzfs::zpool_export(pool.get(), B_FALSE, "test"), 0);
  }
  pool_spec spec = old;
  spec.name = "new";
  pool_result r = create(spec);
  EXPECT_EQ(r.code, pool_error::device_in_use);
  EXPECT_EQ(r.message,
            "'/dev/old0m0' belongs to exported pool 'old'; use force to overwrite it; '/dev/old0m1' belongs to "
            "exported pool 'old'; use force to overwrite it");
  spec.force = true;
  r = create(spec);
  EXPECT_EQ(r.code, pool_error::ok) << r.message;
  EXPECT_EQ(json::parse(zfs_sim_ok({"label", "/dev/old0m0"}))["name"], "new");
}

TEST_F(PoolCreate, FailedCreationIsRolledBack) {
  zfs_sim_ok({"fail", "zpool_create_late", "--text", "out of luck"});
  pool_spec spec = mirror_spec("tank");
  pool_result r = create(spec);
  EXPECT_EQ(r.code, pool_error::zfs_failure);
  EXPECT_EQ(r.message, "failed to create pool 'tank': out of luck. ZFS labels on the listed devices have been cleared");
  EXPECT_FALSE(exists("tank"));
  // Destroyed with the rollback's own line.
  EXPECT_NE(zfs_sim_ok({"pools-exported"}).find("\ttank\tdestroyed"), std::string::npos);

  // The rollback left destroyed-pool labels behind.
  spec.force = true;
  zfs_sim_ok({"fail", "zpool_create", "--text", "no"});
  r = create(spec);
  EXPECT_EQ(r.message, "failed to create pool 'tank': no. ZFS labels on the listed devices have been cleared");

  // Made, but not to be opened afterwards: a success without guid.
  zfs_sim_ok({"fail", "zpool_open"});
  r = create(spec);
  EXPECT_EQ(r.code, pool_error::ok);
  EXPECT_EQ(r.message, "");
  EXPECT_TRUE(exists("tank"));
}

TEST_F(PoolCreate, FailedCreationLeavesAnotherPoolOfTheNameAlone) {
  zfs_sim_ok({"pool-create", "live"});
  zfs_sim_ok({"fs-create", "live/data/vm1"});
  // The existence probe misses "live" once; the creation then fails on it.
  zfs_sim_ok({"fail", "zpool_open_canfail"});
  pool_result r = create(mirror_spec("live"));
  EXPECT_EQ(r.code, pool_error::zfs_failure) << r.message;
  EXPECT_TRUE(exists("live"));
  EXPECT_EQ(zfs_sim({"get", "live/data/vm1", "guid"}).status, 0);
  EXPECT_EQ(zfs_sim_ok({"pools-exported"}).find("\tlive\tdestroyed"), std::string::npos);
}

// The stand-in's labels lie where ZFS puts them, so that clearing the head
// alone leaves a device labelled, as on a host.
TEST_F(PoolCreate, LabelsLieAtTheHeadAndTheTail) {
  pool_spec spec = mirror_spec("tank");
  ASSERT_EQ(create(spec).code, pool_error::ok);
  const std::string disk = spec.vdevs[0].devices[0];
  const uint64_t size = 5 * GiB, label = 256 * 1024;
  for (uint64_t offset : {uint64_t{0}, label, size - 2 * label, size - label})
    EXPECT_EQ(Disks::read(disk, offset, 20), "OMBRIX-ZFS-SIM-LABEL") << offset;

  // Exported: no longer held, as a member of an active pool is.
  ASSERT_EQ(export_pool(session_, "tank", false, false).code, 0);
  Disks::write(disk, 0, std::string(2 * label, '\0'));
  EXPECT_EQ(json::parse(zfs_sim_ok({"label", disk}))["name"], "tank") << "the tail labels remain";
  ASSERT_EQ(clear_labels({disk}, true).code, pool_error::ok);
  EXPECT_EQ(zfs_sim_ok({"label", disk}), "");
}

// The stand-in refuses what the kernel refuses, so that a check of the
// library that let such a pool through would show: layouts the library's
// checks pass, then spoilt before they reach zpool_create.
TEST_F(PoolCreate, TheStandInRefusesGeometriesAndNamesZfsRefuses) {
  const struct {
    const char* name;
    const char* pool;
    vdev_type type;
    int disks;
    std::function<void(vdev_layout&)> spoil;
  } cases[] = {
      {"raidz1 of one disk", "p1", vdev_type::raidz, 3, [](vdev_layout& l) { l.nparity = 3; }},
      {"raidz parity 4", "p2", vdev_type::raidz, 6, [](vdev_layout& l) { l.nparity = 4; }},
      {"draid without data", "p3", vdev_type::draid, 6, [](vdev_layout& l) { l.ndata = 0; }},
      {"draid spares beyond its children", "p4", vdev_type::draid, 6, [](vdev_layout& l) { l.nspares = 5; }},
      {"draid groups that do not fill", "p5", vdev_type::draid, 6, [](vdev_layout& l) {
         l.ndata = 3;
         l.ngroups = 1;
       }},
      {"reserved name", "mirror1", vdev_type::mirror, 2, [](vdev_layout&) {}},
      {"reserved name", "spares", vdev_type::mirror, 2, [](vdev_layout&) {}},
      {"reserved name", "log", vdev_type::mirror, 2, [](vdev_layout&) {}},
      {"disk-like name", "c0t0", vdev_type::mirror, 2, [](vdev_layout&) {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.pool);
    pool_spec spec;
    spec.name = c.pool;
    spec.vdevs = {make_vdev(c.type, image_disks(disks_, std::string(c.pool) + "d", c.disks), 1)};
    vdev_layout layout;
    ASSERT_TRUE(check_vdev_geometry(spec.vdevs[0], layout).ok());
    c.spoil(layout);
    owned_nvlist root;
    ASSERT_TRUE(make_vdev_nvlist(spec, {layout}, 0, root));
    EXPECT_NE(libzfs::zpool_create(session_.handle(), c.pool, root.get(), nullptr, nullptr), 0);
    EXPECT_FALSE(exists(c.pool));
  }
}

TEST_F(PoolCreate, FeatureTable) {
  auto table_of = [](size_t supported, size_t unsupported) {
    static std::vector<std::string> names;
    names.clear();
    names.reserve(supported + unsupported);
    std::vector<zfeature_info_t> table;
    for (size_t i = 0; i < supported + unsupported; ++i) {
      names.push_back("f" + std::to_string(i));
      table.push_back({static_cast<uint32_t>(i), 0, names.back().c_str(), "org.test:f", "", 0,
                       i < supported ? 1u : 0u, nullptr, 0, 0});
    }
    return table;
  };
  struct Case {
    size_t supported, unsupported;
    std::vector<std::string> preset, disabled;
    std::string message;
    size_t enabled;
  };
  for (const Case& c : std::vector<Case>{
           {20, 5, {}, {}, "only 20 pool features could be enabled: libzfs feature table layout mismatch", 20},
           // Features the caller enabled or disabled still count as supported.
           {24, 0, {"f0", "f1"}, {"f2"}, "", 23},
           // The table's real end bounds the walk: no terminating entry here.
           {30, 0, {}, {}, "", 30},
       }) {
    std::vector<zfeature_info_t> table = table_of(c.supported, c.unsupported);
    pool_property_list props;
    for (const std::string& name : c.preset) props.set("feature@" + name, "enabled");
    pool_result r;
    enable_pool_features(r, props, c.disabled, table.data(), table.size());
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(r.code, c.message.empty() ? pool_error::ok : pool_error::internal_error);
    EXPECT_EQ(props.values().size(), c.enabled);
    EXPECT_FALSE(props.values().contains("feature@f2") && !c.disabled.empty());
  }
  pool_result r;
  pool_property_list props;
  enable_pool_features(r, props, {}, nullptr, 0);
  EXPECT_EQ(r.message, "libzfs feature table is unavailable");
  // The stand-in's table: its symbol tells where it ends.
  EXPECT_EQ(libzfs::spa_feature_table_entries(max_feature_entries), static_cast<size_t>(SPA_FEATURES));
}

}  // namespace

namespace {

using namespace storage_test;

TEST(PoolCreateLoop, MirrorOnLoopDevices) {
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
  spec.full_label_clear = true;
  pool_property_list props;
  dataset_property_list fs_props;
  spec.dry_run = true;
  EXPECT_TRUE(create_pool(session, spec, props, fs_props).ok());
  EXPECT_EQ(zfs_sim_ok({"label", a}), "");
  spec.dry_run = false;
  pool_result r = create_pool(session, spec, props, fs_props);
  ASSERT_EQ(r.code, pool_error::ok) << r.message;
  for (const std::string& disk : {a, b})
    EXPECT_EQ(nlohmann::json::parse(zfs_sim_ok({"label", disk}))["name"], "looped");
  // The devices now belong to the pool.
  spec.name = "again";
  EXPECT_EQ(create_pool(session, spec, props, fs_props).code, pool_error::device_in_use);
}

}  // namespace
