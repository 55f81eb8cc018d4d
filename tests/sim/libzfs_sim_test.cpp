// The libzfs stand-in's model: zvols, properties, errors, history, faults,
// and the one model that several processes share through its state file.
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostlib/libzfs_api.h"
#include "hostlib/nvpair_api.h"
#include "tests/support/child_process.h"
#include "tests/support/run_program.h"
#include "tests/support/stand_in_root.h"

namespace libzfs_sim_test {
namespace {

using test_support::ChildProcess;

// A host root with the stand-ins, the libzfs and libnvpair tables loaded from
// it, a libzfs handle, and the zfs-sim tool.
class LibzfsSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(zfs_.library().missing_symbols().empty()) << zfs_.library().load_error();
    ASSERT_TRUE(nvp_.library().missing_symbols().empty()) << nvp_.library().load_error();
    ASSERT_EQ(ctl({"pool-create", "tank"}), 0);
    h_ = zfs_.libzfs_init();
    ASSERT_NE(h_, nullptr);
  }
  void TearDown() override {
    if (h_) zfs_.libzfs_fini(h_);
  }

  // Runs zfs-sim with `args` under the root: its exit status, and what it
  // writes to standard output.
  int ctl(const std::vector<std::string>& args) { return test_support::run_program(SIM_ZFS_CTL, args).status; }
  std::string ctl_output(const std::vector<std::string>& args) {
    return test_support::run_program(SIM_ZFS_CTL, args).output;
  }

  // A property list for a zvol (the caller frees it).
  nvlist_t* volume_props(uint64_t size, uint64_t block = 0) {
    nvlist_t* props = nullptr;
    nvp_.nvlist_alloc(&props, NV_UNIQUE_NAME, 0);
    nvp_.nvlist_add_uint64(props, "volsize", size);
    if (block) nvp_.nvlist_add_uint64(props, "volblocksize", block);
    return props;
  }
  int create_volume(const std::string& name, uint64_t size, uint64_t block = 0) {
    nvlist_t* props = volume_props(size, block);
    int rc = zfs_.zfs_create(h_, name.c_str(), ZFS_TYPE_VOLUME, props);
    nvp_.nvlist_free(props);
    return rc;
  }
  // The size of a zvol's device file, -1 when there is none.
  long long device_size(const std::string& dataset) {
    struct stat st;
    std::string path = root_.path("/dev/zvol/" + dataset);
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
  }
  std::string error() { return zfs_.libzfs_error_description(h_); }

  test_support::StandInRoot root_{test_support::stand_in_links()};
  libzfs_api zfs_{hostlib::libzfs_path};
  nvpair_api nvp_{hostlib::libnvpair_path};
  libzfs_handle_t* h_ = nullptr;
};

TEST_F(LibzfsSimTest, VolumeLifecycle) {
  ASSERT_EQ(ctl({"fs-create", "tank/.vm_V4/000000007"}), 0);
  std::string name = "tank/.vm_V4/000000007/snapshot.bvmss";
  EXPECT_EQ(zfs_.zfs_dataset_exists(h_, name.c_str(), ZFS_TYPE_VOLUME), B_FALSE);
  ASSERT_EQ(create_volume(name, 1015808, 32768), 0) << error();
  EXPECT_EQ(zfs_.zfs_dataset_exists(h_, name.c_str(), ZFS_TYPE_VOLUME), B_TRUE);
  EXPECT_EQ(zfs_.zfs_dataset_exists(h_, name.c_str(), ZFS_TYPE_FILESYSTEM), B_FALSE);
  EXPECT_EQ(device_size(name), 1015808);

  zfs_handle_t* zv = zfs_.zfs_open(h_, name.c_str(), ZFS_TYPE_VOLUME);
  ASSERT_NE(zv, nullptr) << error();
  EXPECT_STREQ(zfs_.zfs_get_name(zv), name.c_str());
  EXPECT_EQ(zfs_.zfs_get_type(zv), ZFS_TYPE_VOLUME);
  uint64_t guid = zfs_.zfs_prop_get_int(zv, ZFS_PROP_GUID);
  EXPECT_NE(guid, 0u);
  EXPECT_EQ(zfs_.zfs_prop_get_int(zv, ZFS_PROP_VOLBLOCKSIZE), 32768u);
  ASSERT_EQ(zfs_.zfs_prop_set(zv, "volsize", "2031616"), 0) << error();
  EXPECT_EQ(zfs_.zfs_prop_get_int(zv, ZFS_PROP_VOLSIZE), 2031616u);
  EXPECT_EQ(device_size(name), 2031616);
  EXPECT_EQ(zfs_.zfs_prop_get_int(zv, ZFS_PROP_GUID), guid) << "the guid stays";
  ASSERT_EQ(zfs_.zfs_destroy(zv, B_FALSE), 0) << error();
  zfs_.zfs_close(zv);
  EXPECT_EQ(device_size(name), -1);
  EXPECT_FALSE(std::filesystem::exists(root_.path("/dev/zvol/tank/.vm_V4")))
      << "empty device directories go";
  EXPECT_EQ(ctl_output({"list", "tank"}), "tank\tfilesystem\ntank/.vm_V4\tfilesystem\n"
                                     "tank/.vm_V4/000000007\tfilesystem\n");
}

TEST_F(LibzfsSimTest, RefusedCreatesChangeNothing) {
  ASSERT_EQ(create_volume("tank/v", 65536), 0);
  struct Case {
    std::string name;
    uint64_t size, block;
    int code;
    std::string text;
  };
  for (const Case& c : std::vector<Case>{
           {"tank/v", 65536, 0, EZFS_EXISTS, "dataset already exists"},
           {"tank/no/v", 65536, 0, EZFS_NOENT, "parent does not exist"},
           {"tank/v/w", 65536, 0, EZFS_BADTYPE, "parent is not a filesystem"},
           {"tank/w", 1000000, 32768, EZFS_BADPROP, "volume size must be a multiple of volume block size"},
           {"tank/w", 65536, 1000, EZFS_BADPROP, "'volblocksize' must be power of 2 from 512B to 128KB"},
           {"tank/w", 0, 0, EZFS_BADPROP, "volume size cannot be zero"},
           {"nopool/w", 65536, 0, EZFS_NOENT, "no such pool 'nopool'"},
           {"tank/bad*name", 65536, 0, EZFS_INVALIDNAME, "invalid character '*' in name"},
       }) {
    EXPECT_NE(create_volume(c.name, c.size, c.block), 0) << c.name;
    EXPECT_EQ(zfs_.libzfs_errno(h_), c.code) << c.name;
    EXPECT_EQ(error(), c.text) << c.name;
  }
  EXPECT_EQ(device_size("tank/w"), -1);

  nvlist_t* props = volume_props(65536);
  EXPECT_NE(zfs_.zfs_create(h_, "tank/fs", ZFS_TYPE_FILESYSTEM, props), 0);
  EXPECT_EQ(zfs_.libzfs_errno(h_), EZFS_PROPTYPE);
  nvp_.nvlist_free(props);
  EXPECT_NE(zfs_.zfs_create(h_, "tank/w", ZFS_TYPE_VOLUME, nullptr), 0);
  EXPECT_EQ(error(), "missing volume size");
  EXPECT_EQ(ctl_output({"list"}), "tank\tfilesystem\ntank/v\tvolume\t65536\n");
}

TEST_F(LibzfsSimTest, PropertiesAreCheckedAndInherited) {
  ASSERT_EQ(ctl({"fs-create", "tank/vms"}), 0);
  zfs_handle_t* fs = zfs_.zfs_open(h_, "tank/vms", ZFS_TYPE_FILESYSTEM);
  ASSERT_NE(fs, nullptr);
  ASSERT_EQ(zfs_.zfs_prop_set(fs, "sync", "disabled"), 0) << error();
  EXPECT_NE(zfs_.zfs_prop_set(fs, "sync", "sometimes"), 0);
  EXPECT_EQ(error(), "'sync' must be one of 'standard | always | disabled'");
  EXPECT_NE(zfs_.zfs_prop_set(fs, "guid", "1"), 0);
  EXPECT_EQ(zfs_.libzfs_errno(h_), EZFS_PROPREADONLY);
  EXPECT_NE(zfs_.zfs_prop_set(fs, "nosuch", "1"), 0);
  EXPECT_EQ(zfs_.libzfs_errno(h_), EZFS_BADPROP);

  ASSERT_EQ(create_volume("tank/vms/v", 65536, 16384), 0);
  zfs_handle_t* zv = zfs_.zfs_open(h_, "tank/vms/v", ZFS_TYPE_VOLUME);
  ASSERT_NE(zv, nullptr);
  char value[64], from[64];
  zprop_source_t source = ZPROP_SRC_NONE;
  ASSERT_EQ(zfs_.zfs_prop_get(zv, ZFS_PROP_SYNC, value, sizeof value, &source, from, sizeof from, B_FALSE), 0);
  EXPECT_STREQ(value, "disabled");
  EXPECT_EQ(source, ZPROP_SRC_INHERITED);
  EXPECT_STREQ(from, "tank/vms");
  EXPECT_EQ(zfs_.zfs_prop_get_int(zv, ZFS_PROP_SYNC), 2u) << "index of 'disabled'";
  ASSERT_EQ(zfs_.zfs_prop_get(zv, ZFS_PROP_VOLSIZE, value, sizeof value, &source, nullptr, 0, B_FALSE), 0);
  EXPECT_STREQ(value, "64K");
  EXPECT_EQ(source, ZPROP_SRC_LOCAL);
  ASSERT_EQ(zfs_.zfs_prop_get(zv, ZFS_PROP_VOLSIZE, value, sizeof value, nullptr, nullptr, 0, B_TRUE), 0);
  EXPECT_STREQ(value, "65536");
  ASSERT_EQ(zfs_.zfs_prop_get(zv, ZFS_PROP_REFRESERVATION, value, sizeof value, &source, nullptr, 0, B_FALSE), 0);
  EXPECT_STREQ(value, "none");
  EXPECT_EQ(source, ZPROP_SRC_DEFAULT);
  EXPECT_NE(zfs_.zfs_prop_set(zv, "volblocksize", "8192"), 0) << "set only at creation";
  EXPECT_NE(zfs_.zfs_prop_set(zv, "volsize", "70000"), 0) << "not a multiple of the block size";
  EXPECT_EQ(device_size("tank/vms/v"), 65536);
  EXPECT_NE(zfs_.zfs_prop_get(zv, ZFS_PROP_ORIGIN, value, sizeof value, nullptr, nullptr, 0, B_FALSE), 0)
      << "not a clone";
  uint64_t number = 0;
  EXPECT_EQ(zfs_.zfs_prop_get_numeric(zv, ZFS_PROP_TYPE, &number, nullptr, nullptr, 0), -1)
      << "a text property has no number";

  zfs_.zfs_close(zv);
  zfs_.zfs_close(fs);
}

TEST_F(LibzfsSimTest, PropertyTable) {
  for (auto [id, name] : std::vector<std::pair<int, std::string>>{
           {0, "type"}, {1, "creation"}, {7, "origin"}, {8, "quota"}, {10, "volsize"},
           {11, "volblocksize"}, {26, "createtxg"}, {41, "refreservation"}, {42, "guid"},
           {58, "sync"}, {62, "clones"}, {65, "inconsistent"}, {66, "volmode"}}) {
    ASSERT_NE(zfs_.zfs_prop_to_name(static_cast<zfs_prop_t>(id)), nullptr) << id;
    EXPECT_EQ(zfs_.zfs_prop_to_name(static_cast<zfs_prop_t>(id)), name);
    EXPECT_EQ(zfs_.zfs_name_to_prop(name.c_str()), id);
  }
  EXPECT_EQ(zfs_.zfs_name_to_prop("refer"), ZFS_PROP_REFERENCED);
  EXPECT_EQ(zfs_.zfs_name_to_prop("com.example:owner"), ZPROP_INVAL);
  EXPECT_EQ(zfs_.zfs_prop_user("com.example:owner"), B_TRUE);
  EXPECT_EQ(zfs_.zfs_prop_user("owner"), B_FALSE);
  EXPECT_EQ(zfs_.zfs_prop_is_string(ZFS_PROP_ORIGIN), B_TRUE);
  EXPECT_EQ(zfs_.zfs_prop_is_string(ZFS_PROP_SYNC), B_FALSE);
  EXPECT_EQ(zfs_.zfs_prop_valid_for_type(ZFS_PROP_VOLSIZE, ZFS_TYPE_FILESYSTEM, B_FALSE), B_FALSE);
  EXPECT_EQ(zfs_.zpool_name_to_prop("ashift"), 19);
  EXPECT_STREQ(zfs_.zpool_prop_to_name(ZPOOL_PROP_GUID), "guid");
  EXPECT_EQ(zfs_.zfs_name_valid("tank/.vm_V4/000000001", ZFS_TYPE_FILESYSTEM), 1);
  EXPECT_EQ(zfs_.zfs_name_valid("tank/a@s", ZFS_TYPE_FILESYSTEM), 0);
  EXPECT_EQ(zfs_.zfs_name_valid("tank/a@s", ZFS_TYPE_SNAPSHOT), 1);
  EXPECT_EQ(zfs_.zfs_name_valid("tank//a", ZFS_TYPE_FILESYSTEM), 0);
  EXPECT_EQ(zfs_.zfs_name_valid("1tank", ZFS_TYPE_FILESYSTEM), 0);
}

TEST_F(LibzfsSimTest, HistoryGoesToThePoolLastWorkedOn) {
  ASSERT_EQ(ctl({"pool-create", "other"}), 0);
  libzfs_handle_t* fresh = zfs_.libzfs_init();
  EXPECT_NE(zfs_.zpool_log_history(fresh, "too early"), 0);
  zfs_.libzfs_fini(fresh);

  ASSERT_EQ(create_volume("other/v", 65536), 0);
  ASSERT_EQ(zfs_.zpool_log_history(h_, "ombrix-vm create vol other/v"), 0);
  zpool_handle_t* pool = zfs_.zpool_open(h_, "tank");
  ASSERT_NE(pool, nullptr);
  zfs_.zpool_close(pool);
  ASSERT_EQ(zfs_.zpool_log_history(h_, "ombrix-vm destroy    tank/x"), 0);
  EXPECT_EQ(ctl_output({"history", "other"}), "ombrix-vm create vol other/v\n");
  EXPECT_EQ(ctl_output({"history", "tank"}), "ombrix-vm destroy    tank/x\n");
}

TEST_F(LibzfsSimTest, InjectedFaults) {
  ASSERT_EQ(ctl({"fail", "zfs_create", "--errno", "2032", "--times", "1"}), 0);
  EXPECT_NE(create_volume("tank/v", 65536), 0);
  EXPECT_EQ(zfs_.libzfs_errno(h_), EZFS_NOSPC);
  EXPECT_EQ(error(), "out of space");
  EXPECT_EQ(create_volume("tank/v", 65536), 0) << "only the next call failed";

  ASSERT_EQ(ctl({"fail", "zfs_open", "--errno", "2033", "--text", "disk on fire", "--always"}), 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(zfs_.zfs_open(h_, "tank/v", ZFS_TYPE_VOLUME), nullptr);
    EXPECT_EQ(error(), "disk on fire");
  }
  ASSERT_EQ(ctl({"clear-faults"}), 0);
  zfs_handle_t* zv = zfs_.zfs_open(h_, "tank/v", ZFS_TYPE_VOLUME);
  EXPECT_NE(zv, nullptr);
  zfs_.zfs_close(zv);

  ASSERT_EQ(ctl({"fail", "libzfs_init"}), 0);
  EXPECT_EQ(zfs_.libzfs_init(), nullptr);
  EXPECT_EQ(ctl({"fail", "zfs_open", "--times", "0"}), 2) << "usage error";
}

TEST_F(LibzfsSimTest, UnavailablePools) {
  ASSERT_EQ(ctl({"pool-state", "tank", "unavail"}), 0);
  EXPECT_EQ(zfs_.zpool_open(h_, "tank"), nullptr);
  EXPECT_EQ(zfs_.libzfs_errno(h_), EZFS_POOLUNAVAIL);
  zpool_handle_t* pool = zfs_.zpool_open_canfail(h_, "tank");
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(zfs_.zpool_get_state(pool), POOL_STATE_UNAVAIL);
  zfs_.zpool_close(pool);
  EXPECT_EQ(zfs_.zpool_open_canfail(h_, "nopool"), nullptr);
  EXPECT_NE(create_volume("tank/v", 65536), 0);
  EXPECT_EQ(zfs_.libzfs_errno(h_), EZFS_POOLUNAVAIL);
}

TEST_F(LibzfsSimTest, WalksPoolsAndChildren) {
  ASSERT_EQ(ctl({"pool-create", "alpha"}), 0);
  ASSERT_EQ(ctl({"fs-create", "tank/b"}), 0);
  ASSERT_EQ(create_volume("tank/a", 65536), 0);
  struct Walk {
    const libzfs_api* zfs;
    std::vector<std::string> names;
    int stop_after = 100;
  };
  auto pool_step = [](zpool_handle_t* pool, void* arg) {
    auto* walk = static_cast<Walk*>(arg);
    walk->names.push_back(walk->zfs->zpool_get_name(pool));
    walk->zfs->zpool_close(pool);
    return walk->names.size() >= static_cast<size_t>(walk->stop_after) ? 7 : 0;
  };
  Walk pools{&zfs_, {}};
  EXPECT_EQ(zfs_.zpool_iter(h_, pool_step, &pools), 0);
  EXPECT_EQ(pools.names, (std::vector<std::string>{"alpha", "tank"}));
  Walk first{&zfs_, {}, 1};
  EXPECT_EQ(zfs_.zpool_iter(h_, pool_step, &first), 7) << "the callback's answer ends the walk";
  EXPECT_EQ(first.names.size(), 1u);

  auto dataset_step = [](zfs_handle_t* zhp, void* arg) {
    auto* walk = static_cast<Walk*>(arg);
    walk->names.push_back(walk->zfs->zfs_get_name(zhp));
    walk->zfs->zfs_close(zhp);
    return 0;
  };
  zfs_handle_t* tank = zfs_.zfs_open(h_, "tank", ZFS_TYPE_FILESYSTEM);
  Walk children{&zfs_, {}};
  EXPECT_EQ(zfs_.zfs_iter_children(tank, dataset_step, &children), 0);
  EXPECT_EQ(children.names, (std::vector<std::string>{"tank/a", "tank/b"}));
  zfs_.zfs_close(tank);
}

TEST_F(LibzfsSimTest, UnmodelledEntryPointsSayNotSupported) {
  zpool_handle_t* pool = zfs_.zpool_open(h_, "tank");
  EXPECT_NE(zfs_.zpool_clear(pool, "da0", nullptr), 0);
  EXPECT_EQ(zfs_.libzfs_errno(h_), EZFS_NOTSUP);
  EXPECT_EQ(error(), "operation not supported");
  char guid[64];
  ASSERT_EQ(zfs_.zpool_get_prop(pool, ZPOOL_PROP_GUID, guid, sizeof guid, nullptr, B_TRUE), 0);
  EXPECT_EQ(std::to_string(zfs_.zpool_get_prop_int(pool, ZPOOL_PROP_GUID, nullptr)), guid);
  zfs_.zpool_close(pool);
}

TEST_F(LibzfsSimTest, ProcessesShareOneModel) {
  auto creator = [this](const std::string& prefix) {
    return [this, prefix] {
      int failures = 0;
      for (int i = 0; i < 20; ++i) failures += create_volume(prefix + std::to_string(i), 65536) != 0;
      return failures == 0 ? 0 : 1;
    };
  };
  ChildProcess first(creator("tank/a"));
  ChildProcess second(creator("tank/b"));
  EXPECT_EQ(first.wait(), 0);
  EXPECT_EQ(second.wait(), 0);

  // Every zvol of both is in the model, seen by this process and the tool.
  for (const char* prefix : {"tank/a", "tank/b"})
    for (int i = 0; i < 20; ++i) {
      std::string name = prefix + std::to_string(i);
      EXPECT_EQ(zfs_.zfs_dataset_exists(h_, name.c_str(), ZFS_TYPE_VOLUME), B_TRUE) << name;
    }
  std::string listing = ctl_output({"list", "tank"});
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 41);

  ASSERT_EQ(ctl({"destroy", "tank/a0"}), 0);
  EXPECT_EQ(zfs_.zfs_open(h_, "tank/a0", ZFS_TYPE_VOLUME), nullptr) << "a handle sees the change";
}

TEST_F(LibzfsSimTest, DamagedStateIsReportedAndKept) {
  std::string path = root_.path("/var/db/libzfs-sim.json");
  { std::ofstream(path, std::ios::trunc) << "{\"pools\": "; }
  EXPECT_EQ(zfs_.zfs_open(h_, "tank", ZFS_TYPE_FILESYSTEM), nullptr);
  EXPECT_EQ(zfs_.libzfs_errno(h_), EZFS_IO);
  EXPECT_EQ(error(), "the state file " + path + " is damaged");
  EXPECT_EQ(zfs_.libzfs_init(), nullptr);
  EXPECT_EQ(ctl({"pool-create", "more"}), 1);
  std::stringstream kept;
  kept << std::ifstream(path).rdbuf();
  EXPECT_EQ(kept.str(), "{\"pools\": ");
}

}  // namespace
}  // namespace libzfs_sim_test
