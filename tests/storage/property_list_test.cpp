#include <gtest/gtest.h>

#include "hostlib/nvpair.h"
#include "storage/dataset_property_list.h"
#include "storage/pool_property_list.h"
#include "storage/property_names.h"
#include "storage_test_root.h"

namespace {

using namespace storage_test;

// What the nvlist holds for `name`, read with libnvpair itself: "n:<number>",
// "s:<text>" or "" when absent.
std::string in_nvlist(const property_list& props, const std::string& name) {
  uint64_t number = 0;
  const char* text = nullptr;
  if (nvpair::nvlist_lookup_uint64(props.list(), name.c_str(), &number) == 0)
    return "n:" + std::to_string(number);
  if (nvpair::nvlist_lookup_string(props.list(), name.c_str(), &text) == 0)
    return std::string("s:") + text;
  return "";
}

std::string in_map(const property_list& props, const std::string& name) {
  if (!props.values().count(name)) return "";
  const property_value& value = props.get(name);
  if (value.index() == 0) return "n:" + std::to_string(std::get<0>(value));
  return "s:" + std::get<1>(value);
}

class PropertyLists : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(load_stand_ins()); }
};

TEST_F(PropertyLists, DatasetTextValuesAreTypedByTheProperty) {
  struct Case {
    std::string name, text;
    int32_t result;
    std::string nvlist, map;
  } cases[] = {
      {"volsize", "10G", 0, "s:10G", "s:10G"},
      {"volsize", "0010", 0, "n:10", "n:10"},  // the nvlist keeps the last, the map the first
      {"quota", "", 0, "s:", "s:"},
      {"refquota", "18446744073709551615", 0, "n:18446744073709551615", "n:18446744073709551615"},
      {"reservation", "18446744073709551616", 0, "s:18446744073709551616",
       "s:18446744073709551616"},
      {"refreservation", "-5", 0, "s:-5", "s:-5"},
      {"mountpoint", "123", 0, "s:123", "s:123"},  // a string property stays text
      {"type", "volume", 0, "s:volume", "s:volume"},  // the id 0 passes for texts
      {"recsize", "4096", 0, "n:4096", "n:4096"},     // aliases are kept as given
      {"com.example:owner", "ops", 0, "s:ops", "s:ops"},
      {"nosuchproperty", "1", property_unknown, "", ""},
      {"", "1", property_unknown, "", ""},
  };
  dataset_property_list props;
  for (const Case& c : cases) {
    EXPECT_EQ(props.set(c.name, c.text), c.result) << c.name;
    EXPECT_EQ(in_nvlist(props, c.name), c.nvlist) << c.name;
    if (c.name == "volsize") continue;  // checked below
    EXPECT_EQ(in_map(props, c.name), c.map) << c.name;
  }
  EXPECT_EQ(in_map(props, "volsize"), "s:10G");
}

TEST_F(PropertyLists, DatasetNumbersAndRepeatedNames) {
  dataset_property_list props;
  struct Case {
    std::string name;
    uint64_t number;
    int32_t result;
    std::string nvlist;
  } cases[] = {
      {"volblocksize", 8192, 0, "n:8192"},
      {"mountpoint", 7, 0, "s:7"},  // a string property takes the decimal text
      {"type", 1, property_unknown, ""},
      {"com.example:owner", 1, property_unknown, ""},
      {"nosuchproperty", 1, property_unknown, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(props.set(c.name, c.number), c.result) << c.name;
    EXPECT_EQ(in_nvlist(props, c.name), c.nvlist) << c.name;
  }
  EXPECT_EQ(props.set_prop(ZFS_PROP_COMPRESSION, "lz4"), 0);
  EXPECT_EQ(props.set("compression", "lz4"), 0);
  EXPECT_EQ(props.set("compression", "off"), 0);
  EXPECT_EQ(in_nvlist(props, "compression"), "s:off");
  EXPECT_EQ(in_map(props, "compression"), "s:lz4");

  EXPECT_EQ(props.get_uint("volblocksize", 1), 8192u);
  EXPECT_EQ(props.get_uint("compression", 1), 1u);
  EXPECT_EQ(props.get_uint("absent", 3), 3u);
  EXPECT_EQ(props.get_text("volblocksize", "x"), "8192");
  EXPECT_EQ(props.get_text("compression", "x"), "lz4");
  EXPECT_EQ(props.get_text("absent", "x"), "x");
  EXPECT_EQ(props.get("absent"), property_value{uint64_t{0}});
}

TEST_F(PropertyLists, PoolListsAndOwnership) {
  pool_property_list pool;
  EXPECT_EQ(pool.list(), nullptr);
  EXPECT_EQ(pool.set_prop(ZPOOL_PROP_ASHIFT, "12"), 0);
  EXPECT_EQ(pool.set("comment", "first"), 0);
  EXPECT_EQ(pool.set("comment", "second"), 0);
  EXPECT_EQ(pool.set("", "x"), property_refused);  // libnvpair refuses an empty name
  EXPECT_EQ(in_nvlist(pool, "ashift"), "s:12");
  EXPECT_EQ(in_nvlist(pool, "comment"), "s:second");
  EXPECT_EQ(in_map(pool, "comment"), "s:first");
  EXPECT_EQ(pool.values().size(), 2u);
  EXPECT_EQ(pool.get("absent"), property_value{uint64_t{0}});

  pool_property_list moved(std::move(pool));
  EXPECT_EQ(pool.list(), nullptr);
  EXPECT_TRUE(pool.values().empty());
  EXPECT_EQ(in_nvlist(moved, "comment"), "s:second");
  pool_property_list& self = moved;
  moved = std::move(self);
  EXPECT_EQ(in_nvlist(moved, "ashift"), "s:12");
  pool = std::move(moved);
  EXPECT_EQ(in_map(pool, "ashift"), "s:12");
  pool.clear();
  EXPECT_EQ(pool.list(), nullptr);
  EXPECT_TRUE(pool.values().empty());
}

TEST_F(PropertyLists, NameListsAndTables) {
  EXPECT_EQ(resolve_property_names(" refer ,used,,"), (std::set<std::string>{"referenced", "used"}));
  EXPECT_EQ(resolve_property_names("recsize,\tcom.x:y\r\n,unknown"),
            (std::set<std::string>{"recordsize", "com.x:y", "unknown"}));
  EXPECT_EQ(user_property_names("com.x:y, used ,org.z:w,Bad:Case,"),
            (std::set<std::string>{"com.x:y", "org.z:w"}));
  EXPECT_TRUE(user_property_names("").empty());

  for (auto [type, name] : {std::pair{1, "filesystem"}, {2, "snapshot"}, {4, "volume"}, {3, ""}})
    EXPECT_EQ(dataset_type_name(type), name) << type;
  for (auto [source, name] : {std::pair{1, "-"}, {2, "default"}, {4, "temporary"}, {8, "local"},
                              {16, "inherited"}, {32, "received"}, {0, "-"}, {64, "-"}})
    EXPECT_EQ(prop_source_name(source), name) << source;

  std::map<std::string, std::string> pool = list_property_values(ZFS_TYPE_POOL);
  EXPECT_EQ(pool.at("failmode"), "wait | continue | panic");
  EXPECT_FALSE(pool.count("compression"));
  std::map<std::string, std::string> datasets = list_property_values(ZFS_TYPE_DATASET);
  EXPECT_EQ(datasets.at("sync"), "standard | always | disabled");
  EXPECT_EQ(datasets.at("defaultuserobjquota"), "<count> | none");  // the last id, 94
  EXPECT_FALSE(datasets.count("failmode"));

  property_entry user{5, "owner", "com.x:owner"};
  EXPECT_TRUE(is_user_property(user, 5));
  EXPECT_FALSE(is_user_property(user, 6));
  EXPECT_FALSE(is_user_property({5, "", "com.x:owner"}, 5));
  EXPECT_FALSE(is_user_property({5, "owner", "plain"}, 5));
  EXPECT_FALSE(is_user_property({5, std::nullopt, "com.x:owner"}, 5));
}

}  // namespace
