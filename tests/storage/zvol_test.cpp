#include "storage/zvol.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "storage_test_root.h"

namespace {

using namespace storage_test;

class Zvol : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(load_stand_ins());
    zfs_sim_ok({"pool-create", "tank"});
    ASSERT_TRUE(session_.ok());
  }
  std::string prop(const std::string& name, const std::string& property) {
    std::string out = zfs_sim_ok({"get", name, property});
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }
  bool exists(const std::string& name) {
    return zfs_sim({"get", name, "guid"}).status == 0;
  }

  TempRoot root_;
  zfs_session session_;
};

TEST_F(Zvol, CreateRoundsTheSizeUpAndGivesTheGuid) {
  uint64_t size = 1000000;
  zvol_result r = create_volume(session_, "tank/img", size, 32768);
  ASSERT_EQ(r.code, 0) << r.text;
  EXPECT_EQ(size, 1015808u);
  EXPECT_EQ(r.text, prop("tank/img", "guid"));
  EXPECT_EQ(r.text.find_first_not_of("0123456789"), std::string::npos);
  EXPECT_NE(r.text.front(), '0');
  EXPECT_EQ(prop("tank/img", "volsize"), "1015808");
  EXPECT_EQ(prop("tank/img", "volblocksize"), "32768");
  EXPECT_EQ(prop("tank/img", "volmode"), "dev");
  EXPECT_EQ(prop("tank/img", "sync"), "disabled");
  EXPECT_EQ(prop("tank/img", "refreservation"), "0");  // "none" is kept as 0
  EXPECT_EQ(history("tank"), std::vector<std::string>{"ombrix-vm create vol tank/img"});

  uint64_t exact = 65536;
  ASSERT_EQ(create_volume(session_, "tank/exact", exact, 16384).code, 0);
  EXPECT_EQ(exact, 65536u);
  EXPECT_EQ(prop("tank/exact", "volsize"), "65536");
}

TEST_F(Zvol, CreateRefusesAnExistingZvolAndBadBlockSizes) {
  uint64_t size = 65536;
  ASSERT_EQ(create_volume(session_, "tank/img", size, 8192).code, 0);
  std::string guid = prop("tank/img", "guid");

  size = 1000;
  zvol_result r = create_volume(session_, "tank/img", size, 8192);
  EXPECT_EQ(r.code, -24);
  EXPECT_EQ(r.text, "Destination volume already exists: tank/img");
  EXPECT_EQ(size, 1000u);
  EXPECT_EQ(prop("tank/img", "guid"), guid);

  r = create_volume(session_, "tank/zero", size, 0);
  EXPECT_EQ(r.code, -27);
  EXPECT_EQ(r.text, "Invalid volblocksize: must be a power of 2, got 0");
  r = create_volume(session_, "tank/odd", size, 3000);
  EXPECT_EQ(r.code, -27);
  EXPECT_EQ(r.text, "Invalid volblocksize: must be a power of 2, got 3000");
  EXPECT_EQ(size, 1000u);
  EXPECT_FALSE(exists("tank/zero"));
  EXPECT_FALSE(exists("tank/odd"));

  size = UINT64_MAX - 10;
  r = create_volume(session_, "tank/huge", size, 8192);
  EXPECT_EQ(r.code, -27);
  EXPECT_EQ(r.text, fmt::format("Failed to create volume: tank/huge: size {} is too large", UINT64_MAX - 10));
  EXPECT_EQ(size, UINT64_MAX - 10);
  EXPECT_FALSE(exists("tank/huge"));
  EXPECT_EQ(history("tank").size(), 1u);
}

TEST_F(Zvol, CreateFailuresCarryTheLibzfsDescription) {
  uint64_t size = 65536;
  zvol_result r = create_volume(session_, "nopool/img", size, 8192);
  EXPECT_EQ(r.code, -27);
  EXPECT_EQ(r.text, "Failed to create volume: nopool/img: " + session_.error_description());
  EXPECT_GT(r.text.size(), std::string("Failed to create volume: nopool/img: ").size());

  zfs_sim_ok({"fail", "zfs_create", "--text", "out of disk"});
  r = create_volume(session_, "tank/img", size, 8192);
  EXPECT_EQ(r.code, -27);
  EXPECT_NE(r.text.find("Failed to create volume: tank/img: "), std::string::npos);
  EXPECT_NE(r.text.find("out of disk"), std::string::npos);
  EXPECT_FALSE(exists("tank/img"));
  EXPECT_TRUE(history("tank").empty());
}

TEST_F(Zvol, CreatedZvolWithoutGuidStays) {
  zfs_sim_ok({"fail", "zfs_open", "--text", "busy"});
  uint64_t size = 65536;
  zvol_result r = create_volume(session_, "tank/img", size, 8192);
  EXPECT_EQ(r.code, -28);
  EXPECT_EQ(r.text.rfind("Failed to obtain volume guid: tank/img: ", 0), 0u) << r.text;
  EXPECT_NE(r.text.find("busy"), std::string::npos);
  EXPECT_TRUE(exists("tank/img"));
  EXPECT_EQ(history("tank"), std::vector<std::string>{"ombrix-vm create vol tank/img"});
}

TEST_F(Zvol, ResizeGrowsNeverShrinks) {
  uint64_t size = 16384;
  ASSERT_EQ(create_volume(session_, "tank/img", size, 16384).code, 0);
  std::string guid = prop("tank/img", "guid");

  size = 16385;
  zvol_result r = resize_volume(session_, "tank/img", size);
  EXPECT_EQ(r.code, 0) << r.text;
  EXPECT_EQ(r.text, guid);
  EXPECT_EQ(size, 32768u);
  EXPECT_EQ(prop("tank/img", "volsize"), "32768");

  size = 16384;
  r = resize_volume(session_, "tank/img", size);
  EXPECT_EQ(r.code, -2);
  EXPECT_EQ(r.text,
            "Failed to resize volume: tank/img: new size value mast be greater then the current one");
  EXPECT_EQ(prop("tank/img", "volsize"), "32768");
  size = 0;
  EXPECT_EQ(resize_volume(session_, "tank/img", size).code, -2);

  // The same size again sets nothing: a failing set would show.
  zfs_sim_ok({"fail", "zfs_prop_set", "--always", "--text", "refused"});
  size = 30000;
  r = resize_volume(session_, "tank/img", size);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.text, guid);
  EXPECT_EQ(size, 32768u);

  size = 40000;
  r = resize_volume(session_, "tank/img", size);
  EXPECT_EQ(r.code, -3);
  EXPECT_EQ(r.text.rfind("Failed to resize volume: tank/img: ", 0), 0u) << r.text;
  EXPECT_NE(r.text.find("refused"), std::string::npos);
  EXPECT_EQ(size, 49152u);
  EXPECT_EQ(prop("tank/img", "volsize"), "32768");
  // Resizing writes no history.
  EXPECT_EQ(history("tank").size(), 1u);

  size = UINT64_MAX;
  r = resize_volume(session_, "tank/img", size);
  EXPECT_EQ(r.code, -3);
  EXPECT_EQ(size, UINT64_MAX);
}

TEST_F(Zvol, InfoAndResizeOfAMissingZvol) {
  uint64_t volsize = 1, volblocksize = 2, size = 65536;
  zvol_result r = volume_info(session_, volsize, volblocksize, "tank/none");
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

TEST_F(Zvol, InfoGivesSizesAndGuid) {
  uint64_t size = 100000;
  ASSERT_EQ(create_volume(session_, "tank/img", size, 4096).code, 0);
  uint64_t volsize = 0, volblocksize = 0;
  zvol_result r = volume_info(session_, volsize, volblocksize, "tank/img");
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.text, prop("tank/img", "guid"));
  EXPECT_EQ(volsize, 102400u);
  EXPECT_EQ(volblocksize, 4096u);
}

TEST_F(Zvol, DestroyRemovesAndRecords) {
  uint64_t size = 65536;
  ASSERT_EQ(create_volume(session_, "tank/img", size, 8192).code, 0);
  EXPECT_EQ(destroy_volume(session_, "tank/img"), std::nullopt);
  EXPECT_FALSE(exists("tank/img"));
  EXPECT_EQ(history("tank"), (std::vector<std::string>{"ombrix-vm create vol tank/img",
                                                       "ombrix-vm destroy    tank/img"}));

  std::optional<std::string> error = destroy_volume(session_, "tank/img");
  ASSERT_TRUE(error);
  EXPECT_EQ(*error, session_.error_description());
  EXPECT_FALSE(error->empty());
  EXPECT_EQ(history("tank").size(), 2u);

  ASSERT_EQ(create_volume(session_, "tank/img", size, 8192).code, 0);
  zfs_sim_ok({"fail", "zfs_destroy", "--text", "dataset is busy"});
  error = destroy_volume(session_, "tank/img");
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("dataset is busy"), std::string::npos);
  EXPECT_TRUE(exists("tank/img"));
  EXPECT_EQ(history("tank").size(), 3u);
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
