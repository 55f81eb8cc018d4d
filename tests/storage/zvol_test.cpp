#include "storage/zvol.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "storage_test_root.h"

namespace {

using namespace storage_test;

class Zvol : public TankTest {
 protected:
  // A new zvol of `size` bytes (already a multiple of `block`); its guid.
  std::string make(const std::string& name, uint64_t size, uint64_t block) {
    zvol_result r = create_volume(session_, name, size, block);
    EXPECT_EQ(r.code, 0) << r.text;
    return r.text;
  }

};

TEST_F(Zvol, CreateRoundsTheSizeUpAndGivesTheGuid) {
  uint64_t size = 1000000;
  zvol_result r = create_volume(session_, "tank/img", size, 32768);
  ASSERT_EQ(r.code, 0) << r.text;
  EXPECT_EQ(size, 1015808u);
  EXPECT_EQ(r.text, prop("tank/img", "guid"));
  for (auto [property, value] : {std::pair{"volsize", "1015808"}, {"volblocksize", "32768"},
                                 {"volmode", "dev"}, {"sync", "disabled"},
                                 {"refreservation", "0"}})  // "none" is kept as 0
    EXPECT_EQ(prop("tank/img", property), value) << property;
  EXPECT_EQ(history("tank"), std::vector<std::string>{"ombrix-vm create vol tank/img"});
}

TEST_F(Zvol, RefusedCreatesChangeNothing) {
  std::string guid = make("tank/img", 65536, 8192);
  const uint64_t huge = UINT64_MAX - 10;
  struct Case {
    std::string name;
    uint64_t size, block;
    std::vector<std::string> fault;  // zfs-sim arguments injecting a libzfs failure first
    int code;
    std::string text;
  };
  for (const Case& c : std::vector<Case>{
           {"tank/img", 1000, 8192, {}, -24, "Destination volume already exists: tank/img"},
           {"tank/zero", 1000, 0, {}, -27, "Invalid volblocksize: must be a power of 2, got 0"},
           {"tank/odd", 1000, 3000, {}, -27, "Invalid volblocksize: must be a power of 2, got 3000"},
           {"tank/huge", huge, 8192, {}, -27,
            fmt::format("Failed to create volume: tank/huge: size {} is too large", huge)},
           // libzfs's own failures carry its description.
           {"nopool/img", 65536, 8192, {}, -27,
            "Failed to create volume: nopool/img: no such pool 'nopool'"},
           {"tank/new", 65536, 8192, {"fail", "zfs_create", "--text", "out of disk"}, -27,
            "Failed to create volume: tank/new: out of disk"},
       }) {
    if (!c.fault.empty()) zfs_sim_ok(c.fault);
    uint64_t size = c.size;
    zvol_result r = create_volume(session_, c.name, size, c.block);
    EXPECT_EQ(r.code, c.code) << c.name;
    EXPECT_EQ(r.text, c.text) << c.name;
    EXPECT_EQ(size, c.size) << c.name;
  }
  EXPECT_EQ(prop("tank/img", "guid"), guid);
  for (const char* name : {"tank/zero", "tank/odd", "tank/huge", "tank/new"})
    EXPECT_FALSE(exists(name)) << name;
  EXPECT_EQ(history("tank").size(), 1u);
}

TEST_F(Zvol, CreatedZvolWithoutGuidStays) {
  zfs_sim_ok({"fail", "zfs_open", "--text", "busy"});
  uint64_t size = 65536;
  zvol_result r = create_volume(session_, "tank/img", size, 8192);
  EXPECT_EQ(r.code, -28);
  EXPECT_EQ(r.text, "Failed to obtain volume guid: tank/img: busy");
  EXPECT_TRUE(exists("tank/img"));
  EXPECT_EQ(history("tank"), std::vector<std::string>{"ombrix-vm create vol tank/img"});
}

TEST_F(Zvol, ResizeGrowsNeverShrinks) {
  std::string guid = make("tank/img", 16384, 16384);
  // Resizes to `asked`: the code and the size given back; the zvol's size is
  // 32768 after each step.
  auto resize = [&](uint64_t asked, int code, uint64_t given_back) {
    uint64_t size = asked;
    zvol_result r = resize_volume(session_, "tank/img", size);
    EXPECT_EQ(r.code, code) << asked << ": " << r.text;
    if (code == 0) {
      EXPECT_EQ(r.text, guid);
    }
    EXPECT_EQ(size, given_back) << asked;
    EXPECT_EQ(prop("tank/img", "volsize"), "32768") << asked;
    return r.text;
  };
  resize(16385, 0, 32768);
  EXPECT_EQ(resize(16384, -2, 16384),
            "Failed to resize volume: tank/img: new size value mast be greater then the current one");
  resize(0, -2, 0);

  // The same size again sets nothing: a failing set would show.
  zfs_sim_ok({"fail", "zfs_prop_set", "--always", "--text", "refused"});
  resize(30000, 0, 32768);
  EXPECT_EQ(resize(40000, -3, 49152), "Failed to resize volume: tank/img: refused");
  resize(UINT64_MAX, -3, UINT64_MAX);  // cannot be rounded
  EXPECT_EQ(history("tank").size(), 1u) << "resizing writes no history";
}

TEST_F(Zvol, InfoGivesSizesAndGuidOrTheOpenFailure) {
  uint64_t size = 100000;
  std::string guid = create_volume(session_, "tank/img", size, 4096).text;
  uint64_t volsize = 0, volblocksize = 0;
  zvol_result r = volume_info(session_, volsize, volblocksize, "tank/img");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.text, guid);
  EXPECT_EQ(volsize, 102400u);
  EXPECT_EQ(volblocksize, 4096u);

  volsize = 1, volblocksize = 2, size = 65536;
  r = volume_info(session_, volsize, volblocksize, "tank/none");
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.text, "Failed to open volume: tank/none: " + session_.error_description());
  EXPECT_EQ(volsize, 1u);
  EXPECT_EQ(volblocksize, 2u);
  r = resize_volume(session_, "tank/none", size);
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.text.rfind("Failed to open volume: tank/none: ", 0), 0u);
  EXPECT_EQ(size, 65536u);
  // A filesystem is not a zvol.
  zfs_sim_ok({"fs-create", "tank/fs"});
  EXPECT_EQ(volume_info(session_, volsize, volblocksize, "tank/fs").code, -1);
}

TEST_F(Zvol, DestroyRemovesAndRecords) {
  make("tank/img", 65536, 8192);
  EXPECT_EQ(destroy_volume(session_, "tank/img"), std::nullopt);
  EXPECT_FALSE(exists("tank/img"));
  EXPECT_EQ(history("tank"), (std::vector<std::string>{"ombrix-vm create vol tank/img",
                                                       "ombrix-vm destroy    tank/img"}));

  std::optional<std::string> error = destroy_volume(session_, "tank/img");
  ASSERT_TRUE(error);
  EXPECT_EQ(*error, session_.error_description());
  EXPECT_FALSE(error->empty());

  make("tank/img", 65536, 8192);
  zfs_sim_ok({"fail", "zfs_destroy", "--text", "dataset is busy"});
  EXPECT_EQ(destroy_volume(session_, "tank/img"), "dataset is busy");
  EXPECT_TRUE(exists("tank/img"));
  EXPECT_EQ(history("tank").size(), 3u);  // no entry for either failure
}

TEST(VolblocksizeRounding, PowersOfTwoOnly) {
  EXPECT_EQ(round_to_volblocksize(0, 4096), 0u);
  EXPECT_EQ(round_to_volblocksize(1, 4096), 4096u);
  EXPECT_EQ(round_to_volblocksize(4096, 4096), 4096u);
  EXPECT_EQ(round_to_volblocksize(4097, 4096), 8192u);
  EXPECT_EQ(round_to_volblocksize(UINT64_MAX - 4095, 4096), UINT64_MAX - 4095);
  EXPECT_EQ(round_to_volblocksize(UINT64_MAX - 4094, 4096), std::nullopt);
  EXPECT_EQ(round_to_volblocksize(100, 0), std::nullopt);
  EXPECT_EQ(round_to_volblocksize(100, 3000), std::nullopt);
}

}  // namespace
