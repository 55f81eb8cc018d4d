#include "daemon/suspend_image.h"

#include <cstdint>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include "storage/zvol.h"
#include "tests/storage/storage_test_root.h"

namespace {

using namespace storage_test;

TEST(SuspendImage, SizeHoldsMemoryTableAndHeader) {
  const uint64_t gib = 1ULL << 30;
  // One 4096-byte table page per 2 MiB of memory, and the fixed margin.
  EXPECT_EQ(suspend_image_size(gib), gib + gib / 512 + kSuspendImageMargin);
  EXPECT_GE(suspend_image_size(gib), gib + (gib / (2 << 20)) * 4096 + 4096 + 4096);
  EXPECT_EQ(suspend_image_size(0), kSuspendImageMargin);
  EXPECT_EQ(suspend_image_size(UINT64_MAX), UINT64_MAX);
  EXPECT_EQ(suspend_image_size(UINT64_MAX - 1000), UINT64_MAX);
}

TEST(SuspendImage, Names) {
  EXPECT_EQ(suspend_image_dataset("z05/.vm_V4/000100001"), "z05/.vm_V4/000100001/snapshot.bvmss");
  EXPECT_EQ(suspend_image_path("z05/.vm_V4/000100001"),
            "/dev/zvol/z05/.vm_V4/000100001/snapshot.bvmss");
  EXPECT_TRUE(valid_dataset_name("z05"));
  EXPECT_TRUE(valid_dataset_name("z05/.vm_V4/000100001"));
  for (const char* bad : {"", "/z05", "z05/", "z05//x", "z05/../etc", "..", "./x", "z05/."})
    EXPECT_FALSE(valid_dataset_name(bad)) << bad;
  EXPECT_FALSE(valid_dataset_name(std::string("z05\0x", 5)));
}

class SuspendVolume : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(load_stand_ins());
    zfs_sim_ok({"pool-create", "tank"});
    zfs_sim_ok({"fs-create", "tank/vm"});
    ASSERT_TRUE(session_.ok());
  }
  std::string prop(const std::string& property) {
    std::string out = zfs_sim_ok({"get", kImage, property});
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

  static constexpr const char* kImage = "tank/vm/snapshot.bvmss";
  TempRoot root_;
  zfs_session session_;
};

// The image volume's block size.
constexpr uint64_t kBlock = 32768;

TEST_F(SuspendVolume, CreatedGrownAndMadeAnewWhenLarger) {
  std::ostringstream log;
  auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(log);
  auto saved = spdlog::default_logger();
  spdlog::set_default_logger(std::make_shared<spdlog::logger>("test", sink));
  SuspendVolumeResult r = prepare_suspend_volume(session_, kImage, 3 * kBlock + 1);
  spdlog::set_default_logger(saved);
  EXPECT_TRUE(r.ok) << r.text;
  EXPECT_EQ(prop("volsize"), std::to_string(4 * kBlock));
  EXPECT_EQ(prop("volblocksize"), std::to_string(kBlock));
  // The size asked for, in MiB (rounded up), is logged before the volume is made.
  EXPECT_NE(log.str().find("1 MiB"), std::string::npos) << log.str();
  std::string guid = prop("guid");

  // The size it has already: the same volume stays as it is.
  r = prepare_suspend_volume(session_, kImage, 4 * kBlock);
  EXPECT_TRUE(r.ok) << r.text;
  EXPECT_EQ(prop("guid"), guid);

  // Too small: grown in place.
  r = prepare_suspend_volume(session_, kImage, 6 * kBlock);
  EXPECT_TRUE(r.ok) << r.text;
  EXPECT_EQ(prop("volsize"), std::to_string(6 * kBlock));
  EXPECT_EQ(prop("guid"), guid);

  // Larger than needed: destroyed and made anew.
  r = prepare_suspend_volume(session_, kImage, kBlock);
  EXPECT_TRUE(r.ok) << r.text;
  EXPECT_EQ(prop("volsize"), std::to_string(kBlock));
  EXPECT_NE(prop("guid"), guid);
}

TEST_F(SuspendVolume, Failures) {
  // A volume that cannot be grown fails the preparation with the reason and
  // stays as it was.
  ASSERT_TRUE(prepare_suspend_volume(session_, kImage, kBlock).ok);
  std::string guid = prop("guid");
  zfs_sim_ok({"fail", "zfs_prop_set", "--text", "refused"});
  SuspendVolumeResult r = prepare_suspend_volume(session_, kImage, 2 * kBlock);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.text.find("refused"), std::string::npos) << r.text;
  EXPECT_EQ(prop("volsize"), std::to_string(kBlock));
  EXPECT_EQ(prop("guid"), guid);

  // A larger volume that cannot be destroyed.
  ASSERT_TRUE(prepare_suspend_volume(session_, kImage, 2 * kBlock).ok);
  zfs_sim_ok({"fail", "zfs_destroy", "--text", "busy"});
  r = prepare_suspend_volume(session_, kImage, kBlock);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.text.find("busy"), std::string::npos) << r.text;

  // No such parent dataset, and a filesystem in the image's place.
  r = prepare_suspend_volume(session_, "nopool/vm/snapshot.bvmss", kBlock);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.text.find("not created"), std::string::npos) << r.text;
  zfs_sim_ok({"fs-create", "tank/fs"});
  r = prepare_suspend_volume(session_, "tank/fs", kBlock);
  EXPECT_FALSE(r.ok);
}

}  // namespace
