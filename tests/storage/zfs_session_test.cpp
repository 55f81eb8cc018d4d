#include "storage/zfs_session.h"

#include <gtest/gtest.h>

#include "storage/zvol.h"
#include "storage_test_root.h"

namespace {

using namespace storage_test;

TEST(ZfsSession, WithoutAHandleEveryZvolOperationRefuses) {
  ASSERT_TRUE(load_stand_ins());
  TempRoot root;
  zfs_sim_ok({"pool-create", "tank"});
  zfs_sim_ok({"vol-create", "tank/v", "65536"});
  zfs_sim_ok({"fail", "libzfs_init"});
  zfs_session session;
  ASSERT_FALSE(session.ok());
  EXPECT_EQ(session.error_description(), "");

  uint64_t size = 1000, volsize = 7, volblocksize = 9;
  zvol_result r = create_volume(session, "tank/new", size, 4096);
  EXPECT_EQ(r.code, -12);
  EXPECT_EQ(r.text, "libzfs is not initialized");
  EXPECT_EQ(resize_volume(session, "tank/v", size).code, -12);
  EXPECT_EQ(size, 1000u);
  EXPECT_EQ(volume_info(session, volsize, volblocksize, "tank/v").code, -12);
  EXPECT_EQ(volsize, 7u);
  EXPECT_EQ(volblocksize, 9u);
  EXPECT_EQ(destroy_volume(session, "tank/v"), "libzfs is not initialized");

  EXPECT_EQ(zfs_sim_ok({"list"}), "tank\tfilesystem\ntank/v\tvolume\t65536\n");
  EXPECT_TRUE(history("tank").empty());
}

}  // namespace
