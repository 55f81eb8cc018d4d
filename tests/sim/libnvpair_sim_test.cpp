// The libnvpair stand-in: members, copies, error codes.
#include "sim/include/libnvpair_stand_in.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostlib/shared_library.h"
#include "tests/support/stand_in_root.h"

namespace {

class LibnvpairSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A dying child shares this process's root, which the parent removes.
    GTEST_FLAG_SET(death_test_style, "fast");
    ASSERT_TRUE(lib_.is_open()) << lib_.error();
    ASSERT_EQ(nvlist_alloc(&list_, NV_UNIQUE_NAME, 0), 0);
  }
  void TearDown() override { nvlist_free(list_); }

  std::vector<std::string> names(nvlist_t* list) {
    std::vector<std::string> found;
    for (nvpair_t* p = nvlist_next_nvpair(list, nullptr); p; p = nvlist_next_nvpair(list, p))
      found.push_back(nvpair_name(p));
    return found;
  }

  test_support::StandInRoot root_{test_support::stand_in_links()};
  SharedLibrary lib_{hostlib::libnvpair_path};
  // Each function of the stand-in, resolved by name (declared, never linked).
#define NVPAIR_SIM_FN(result, name, params, args) \
  decltype(&::name) name = lib_.function<decltype(&::name)>(#name);
  LIBNVPAIR_ENTRY_POINTS(NVPAIR_SIM_FN)
  LIBNVPAIR_STAND_IN_EXTRAS(NVPAIR_SIM_FN)
#undef NVPAIR_SIM_FN
  nvlist_t* list_ = nullptr;
};

TEST_F(LibnvpairSimTest, UniqueNamesReplaceAndOrderIsKept) {
  EXPECT_TRUE(nvlist_empty(list_));
  EXPECT_EQ(nvlist_add_string(list_, "compression", "lz4"), 0);
  EXPECT_EQ(nvlist_add_uint64(list_, "volsize", 10), 0);
  EXPECT_EQ(nvlist_add_string(list_, "compression", "off"), 0);
  EXPECT_FALSE(nvlist_empty(list_));
  EXPECT_EQ(names(list_), (std::vector<std::string>{"volsize", "compression"}));
  const char* text = nullptr;
  ASSERT_EQ(nvlist_lookup_string(list_, "compression", &text), 0);
  EXPECT_STREQ(text, "off");

  nvlist_t* plain = nullptr;
  ASSERT_EQ(nvlist_alloc(&plain, 0, 0), 0);
  nvlist_add_uint64(plain, "a", 1);
  nvlist_add_uint64(plain, "a", 2);
  EXPECT_EQ(names(plain).size(), 2u);
  nvlist_free(plain);
}

TEST_F(LibnvpairSimTest, ErrorCodes) {
  EXPECT_EQ(nvlist_add_string(nullptr, "a", "b"), 22);
  EXPECT_EQ(nvlist_add_string(list_, nullptr, "b"), 22);
  EXPECT_EQ(nvlist_add_string(list_, "", "b"), 22);
  EXPECT_EQ(nvlist_add_string(list_, "a", nullptr), 22);
  EXPECT_EQ(nvlist_add_nvlist_array(list_, "a", nullptr, 2), 22);
  EXPECT_EQ(nvlist_alloc(nullptr, 0, 0), 22);
  EXPECT_EQ(nvlist_add_uint32(list_, "n", 5), 0);
  uint64_t wide = 0;
  uint32_t narrow = 0;
  EXPECT_EQ(nvlist_lookup_uint64(list_, "n", &wide), 2) << "a member of another type is not found";
  EXPECT_EQ(nvlist_lookup_uint32(list_, "n", &narrow), 0);
  EXPECT_EQ(narrow, 5u);
  EXPECT_EQ(nvlist_lookup_uint64(list_, "missing", &wide), 2);
  nvlist_t* inner = nullptr;
  nvpair_t* pair = nvlist_next_nvpair(list_, nullptr);
  EXPECT_EQ(nvpair_value_nvlist(pair, &inner), 22);
  EXPECT_EQ(nvlist_next_nvpair(list_, pair), nullptr);
}

TEST_F(LibnvpairSimTest, ValuesAreCopied) {
  nvlist_t* child = nullptr;
  ASSERT_EQ(nvlist_alloc(&child, NV_UNIQUE_NAME, 0), 0);
  nvlist_add_string(child, "path", "/dev/da0");
  nvlist_t* children[] = {child, child};
  ASSERT_EQ(nvlist_add_nvlist_array(list_, "children", children, 2), 0);
  uint64_t stats[] = {1, 2, 3};
  ASSERT_EQ(nvlist_add_uint64_array(list_, "vdev_stats", stats, 3), 0);
  nvlist_add_string(child, "path", "/dev/changed");
  stats[0] = 99;

  nvlist_t** found = nullptr;
  uint_t count = 0;
  ASSERT_EQ(nvlist_lookup_nvlist_array(list_, "children", &found, &count), 0);
  ASSERT_EQ(count, 2u);
  EXPECT_NE(found[0], child);
  const char* path = nullptr;
  ASSERT_EQ(nvlist_lookup_string(found[1], "path", &path), 0);
  EXPECT_STREQ(path, "/dev/da0");
  uint64_t* words = nullptr;
  ASSERT_EQ(nvlist_lookup_uint64_array(list_, "vdev_stats", &words, &count), 0);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(words[0], 1u);

  ASSERT_EQ(nvlist_add_nvlist(list_, "vdev_tree", child), 0);
  nvlist_free(child);
  nvlist_t* tree = fnvlist_lookup_nvlist(list_, "vdev_tree");
  ASSERT_EQ(nvlist_lookup_string(tree, "path", &path), 0);
  EXPECT_STREQ(path, "/dev/changed");
  nvpair_t* pair = nvlist_next_nvpair(list_, nullptr);
  while (pair && std::string(nvpair_name(pair)) != "vdev_tree") pair = nvlist_next_nvpair(list_, pair);
  nvlist_t* value = nullptr;
  ASSERT_EQ(nvpair_value_nvlist(pair, &value), 0);
  EXPECT_EQ(value, tree);
}

TEST_F(LibnvpairSimTest, MergeCopiesEveryMember) {
  nvlist_t* extra = nullptr;
  ASSERT_EQ(nvlist_alloc(&extra, NV_UNIQUE_NAME, 0), 0);
  nvlist_add_uint64(extra, "quota", 100);
  nvlist_add_string(extra, "refreservation", "1G");
  nvlist_add_string(list_, "refreservation", "none");
  ASSERT_EQ(nvlist_merge(list_, extra, 0), 0);
  nvlist_free(extra);
  EXPECT_EQ(fnvlist_lookup_uint64(list_, "quota"), 100u);
  const char* text = nullptr;
  ASSERT_EQ(nvlist_lookup_string(list_, "refreservation", &text), 0);
  EXPECT_STREQ(text, "1G");
  EXPECT_EQ(nvlist_merge(list_, nullptr, 0), 22);
}

TEST_F(LibnvpairSimTest, AddsABooleanAndStopsOnAMissingMember) {
  fnvlist_add_boolean(list_, "tank/a@s");
  EXPECT_TRUE(nvlist_exists(list_, "tank/a@s"));
  EXPECT_DEATH(fnvlist_lookup_uint64(list_, "absent"), "fnvlist_lookup_uint64");
}

}  // namespace
