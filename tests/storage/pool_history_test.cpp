#include "storage/pool_history.h"

#include <gtest/gtest.h>

namespace {

TEST(PoolHistoryLine, ProgramVerbAndWhatWithNothingElse) {
  using namespace history_verb;
  EXPECT_EQ(pool_history_line(create_vol, "tank/v"), "ombrix-vm create vol tank/v");
  EXPECT_EQ(pool_history_line(rename_fs, "tank/a" + std::string(rename_separator) + "tank/b"),
            "ombrix-vm rename fs tank/a => tank/b");
  EXPECT_EQ(pool_history_line(clone_vol, "tank/c" + std::string(clone_separator) + "tank/v@s"),
            "ombrix-vm clone  vol tank/c <== tank/v@s");
  EXPECT_EQ(pool_history_line(history_verb::export_pool, "tank (force)"), "ombrix-vm export pool: tank (force)");
}

}  // namespace
