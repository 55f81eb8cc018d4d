#include <gtest/gtest.h>

#include "storage/pool_spec_check.h"
#include "storage/vdev_nvlist.h"
#include "storage_test_root.h"

namespace {

vdev_spec vdev(vdev_type type, std::vector<std::string> devices, uint64_t parity = 0,
               vdev_role role = vdev_role::data) {
  vdev_spec v;
  v.type = type;
  v.role = role;
  v.devices = std::move(devices);
  v.parity = parity;
  return v;
}

pool_spec mirror_pool(std::string name) {
  pool_spec spec;
  spec.name = std::move(name);
  spec.vdevs = {vdev(vdev_type::mirror, {"/dev/a", "/dev/b"})};
  return spec;
}

TEST(PoolSpec, NamesAndShapes) {
  struct Case {
    pool_spec spec;
    std::string message;  // "" when accepted
  };
  auto named = [](std::string name) { return mirror_pool(std::move(name)); };
  auto with = [](auto change) {
    pool_spec spec = mirror_pool("tank");
    change(spec);
    return spec;
  };
  std::vector<Case> cases = {
      {named("log"), "pool name 'log' is reserved by ZFS"},
      {named("logs"), ""},
      {named("logger"), ""},
      {named("mirror1"), "pool name 'mirror1' is reserved by ZFS"},
      {named("raidz-a"), "pool name 'raidz-a' is reserved by ZFS"},
      {named("draidx"), "pool name 'draidx' is reserved by ZFS"},
      {named("spares"), "pool name 'spares' is reserved by ZFS"},
      {named("mirro"), ""},
      {named(""), "no pool name"},
      {named("1tank"), "pool name '1tank' must begin with a letter"},
      {named("ta nk"), "pool name 'ta nk' contains characters outside [A-Za-z0-9_.:-]"},
      {named("t" + std::string(238, 'a')), ""},
      {named("t" + std::string(239, 'a')), "pool name is too long: 240 characters, maximum is 239"},
      {with([](pool_spec& s) { s.vdevs.clear(); }), "no vdevs specified"},
      {with([](pool_spec& s) { s.vdevs.clear(), s.spares = {"/dev/c"}; }),
       "at least one data vdev is required"},
      {with([](pool_spec& s) { s.ashift = 8; }), "invalid ashift 8; must be between 9 and 16"},
      {with([](pool_spec& s) { s.ashift = 17; }), "invalid ashift 17; must be between 9 and 16"},
      {with([](pool_spec& s) { s.ashift = 9; }), ""},
      {with([](pool_spec& s) { s.ashift = 16; }), ""},
      {with([](pool_spec& s) { s.vdevs.push_back(vdev(vdev_type::disk, {})); }),
       "a vdev with an empty device list"},
      {with([](pool_spec& s) {
         s.vdevs.push_back(vdev(vdev_type::mirror, {"/dev/l1", "/dev/l2"}, 0, vdev_role::log));
       }),
       ""},
      {with([](pool_spec& s) {
         s.vdevs.push_back(vdev(vdev_type::raidz, {"/dev/s1", "/dev/s2"}, 0, vdev_role::special));
       }),
       "vdev type 'raidz' is not allowed for a non-data vdev"},
      {with([](pool_spec& s) { s.l2cache = {"sda"}; }),
       "device path 'sda' must be absolute and start with /dev/"},
      {with([](pool_spec& s) { s.spares = {"/dev/b"}; }), "device '/dev/b' is specified more than once"},
  };
  for (const Case& c : cases) {
    pool_result r = validate_pool_spec(c.spec, true);
    EXPECT_EQ(r.message, c.message) << c.spec.name;
    EXPECT_EQ(r.code, c.message.empty() ? pool_error::ok : pool_error::bad_request) << c.spec.name;
  }
  // Without the name rules an added vdev list needs no pool name.
  EXPECT_TRUE(validate_pool_spec(named(""), false).ok());
}

TEST(PoolSpec, Geometry) {
  auto devices = [](size_t n) {
    std::vector<std::string> list;
    for (size_t i = 0; i < n; ++i) list.push_back("/dev/d" + std::to_string(i));
    return list;
  };
  auto draid = [&](size_t n, uint64_t p, uint64_t s, uint64_t d, uint64_t children = 0) {
    vdev_spec v = vdev(vdev_type::draid, devices(n), p);
    v.draid_spares = s;
    v.draid_data = d;
    v.draid_children = children;
    return v;
  };
  struct Case {
    vdev_spec vdev;
    std::string message;  // the failure, or the layout's name
    uint64_t nparity = 0, ndata = 0, ngroups = 0;
  };
  std::vector<Case> cases = {
      {vdev(vdev_type::disk, devices(1)), "disk"},
      {vdev(vdev_type::disk, devices(2)), "a single-disk vdev needs exactly one device, 2 provided"},
      {vdev(vdev_type::mirror, devices(1)), "a mirror needs at least two devices, 1 provided"},
      {vdev(vdev_type::mirror, devices(5)), "mirror"},
      {vdev(vdev_type::raidz, devices(2), 0), "raidz1", 1},
      {vdev(vdev_type::raidz, devices(2), 2), "raidz2 needs at least 3 devices, 2 provided"},
      {vdev(vdev_type::raidz, devices(9), 4), "invalid raidz parity level 4; must be between 1 and 3"},
      {vdev(vdev_type::raidz, devices(256), 1), "raidz supports at most 255 devices, 256 provided"},
      {draid(14, 2, 2, 0), "draid2:8d:14c:2s", 2, 8, 6},
      {draid(14, 2, 2, 0, 12), "dRAID was requested with 12 children but 14 devices provided"},
      {draid(1, 1, 0, 0), "dRAID needs at least 2 devices, 1 provided"},
      {draid(5, 3, 2, 0),
       "requested number of dRAID distributed spares 2 and parity level 3 leave no disks available "
       "for data among 5 devices"},
      {draid(10, 1, 0, 10),
       "requested number of dRAID data disks per group 10 is too high; at most 9 disks are "
       "available for data"},
      {draid(10, 1, 101, 0), "invalid number of dRAID distributed spares 101; at most 100 are allowed"},
      {draid(10, 1, 0, 256), "invalid number of dRAID data disks 256; at most 255 are allowed"},
      {draid(3, 0, 0, 0), "draid1:2d:3c:0s", 1, 2, 1},
  };
  for (const Case& c : cases) {
    vdev_layout layout;
    layout.name = "stale";
    pool_result r = check_vdev_geometry(c.vdev, layout);
    bool ok = c.message.find(' ') == std::string::npos;
    EXPECT_EQ(r.code, ok ? pool_error::ok : pool_error::bad_geometry) << c.message;
    EXPECT_EQ(ok ? layout.name : r.message, c.message);
    EXPECT_EQ(layout.device_count, c.vdev.devices.size()) << c.message;
    EXPECT_EQ(layout.nparity, c.nparity) << c.message;
    EXPECT_EQ(layout.ndata, c.ndata) << c.message;
    EXPECT_EQ(layout.ngroups, c.ngroups) << c.message;
    if (!ok) {
      EXPECT_EQ(layout.name, "") << c.message;
    }
  }
  EXPECT_EQ(describe_vdev_geometry({"raidz", 6, 2}), "raidz2 of 6 devices");
  EXPECT_EQ(describe_vdev_geometry({"mirror", 2, 0}), "mirror of 2 devices");
}

// The nvlist read back through libnvpair's own lookups.
TEST(PoolSpec, VdevNvlist) {
  ASSERT_TRUE(storage_test::load_stand_ins());
  pool_spec spec = mirror_pool("tank");
  spec.vdevs.push_back(vdev(vdev_type::disk, {"/dev/log0"}, 0, vdev_role::log));
  vdev_spec d = vdev(vdev_type::draid, {"/dev/e0", "/dev/e1", "/dev/e2"}, 1);
  spec.vdevs.push_back(d);
  spec.spares = {"/dev/s0"};
  std::vector<vdev_layout> layouts(spec.vdevs.size());
  for (size_t i = 0; i < spec.vdevs.size(); ++i)
    ASSERT_TRUE(check_vdev_geometry(spec.vdevs[i], layouts[i]).ok());

  for (uint64_t ashift : {0, 12}) {
    owned_nvlist root;
    ASSERT_TRUE(make_vdev_nvlist(spec, layouts, ashift, root));
    const char* text = nullptr;
    uint64_t number = 0;
    nvlist_t** tops = nullptr;
    uint_t count = 0;
    ASSERT_EQ(nvpair::nvlist_lookup_string(root.get(), "type", &text), 0);
    EXPECT_STREQ(text, "root");
    ASSERT_EQ(nvpair::nvlist_lookup_nvlist_array(root.get(), "children", &tops, &count), 0);
    ASSERT_EQ(count, 3u);
    EXPECT_NE(nvpair::nvlist_lookup_uint64(root.get(), "ashift", &number), 0);
    EXPECT_NE(nvpair::nvlist_lookup_nvlist_array(root.get(), "l2cache", &tops, &count), 0);

    nvpair::nvlist_lookup_nvlist_array(root.get(), "children", &tops, &count);
    // The mirror: interior vdev without ashift, leaves with it.
    nvpair::nvlist_lookup_string(tops[0], "type", &text);
    EXPECT_STREQ(text, "mirror");
    EXPECT_NE(nvpair::nvlist_lookup_uint64(tops[0], "ashift", &number), 0);
    EXPECT_NE(nvpair::nvlist_lookup_string(tops[0], "alloc_bias", &text), 0);
    nvlist_t** leaves = nullptr;
    uint_t nleaves = 0;
    ASSERT_EQ(nvpair::nvlist_lookup_nvlist_array(tops[0], "children", &leaves, &nleaves), 0);
    ASSERT_EQ(nleaves, 2u);
    nvpair::nvlist_lookup_string(leaves[1], "path", &text);
    EXPECT_STREQ(text, "/dev/b");
    EXPECT_EQ(nvpair::nvlist_lookup_uint64(leaves[1], "ashift", &number) == 0, ashift != 0);
    if (ashift) {
      EXPECT_EQ(number, ashift);
    }
    // The log disk is its own leaf, marked as log.
    nvpair::nvlist_lookup_string(tops[1], "type", &text);
    EXPECT_STREQ(text, "disk");
    nvpair::nvlist_lookup_uint64(tops[1], "is_log", &number);
    EXPECT_EQ(number, 1u);
    nvpair::nvlist_lookup_string(tops[1], "alloc_bias", &text);
    EXPECT_STREQ(text, "log");
    // dRAID geometry.
    for (auto [name, value] : {std::pair{"nparity", 1u}, {"draid_ndata", 2u}, {"draid_nspares", 0u},
                               {"draid_ngroups", 1u}}) {
      ASSERT_EQ(nvpair::nvlist_lookup_uint64(tops[2], name, &number), 0) << name;
      EXPECT_EQ(number, value) << name;
    }
    ASSERT_EQ(nvpair::nvlist_lookup_nvlist_array(root.get(), "spares", &leaves, &nleaves), 0);
    ASSERT_EQ(nleaves, 1u);
    EXPECT_EQ(nvpair::nvlist_lookup_uint64(leaves[0], "ashift", &number) == 0, ashift != 0);
  }
}

}  // namespace
