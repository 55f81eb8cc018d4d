#include "storage/pool_history.h"

#include <gtest/gtest.h>


namespace {

TEST(PoolHistoryLine, ProgramVerbAndWhatWithNothingElse) {
  EXPECT_EQ(pool_history_line(history_verb::create_vol, "tank/v"), "ombrix-vm create vol tank/v");
  EXPECT_EQ(pool_history_line(history_verb::rename_fs,
                              std::string("tank/a") + std::string(history_verb::rename_separator) + "tank/b"),
            "ombrix-vm rename fs tank/a => tank/b");
  EXPECT_EQ(pool_history_line(history_verb::clone_vol,
                              std::string("tank/c") + std::string(history_verb::clone_separator) + "tank/v@s"),
            "ombrix-vm clone  vol tank/c <== tank/v@s");
  EXPECT_EQ(pool_history_line(history_verb::export_pool, "tank (force)"),
            "ombrix-vm export pool: tank (force)");
}

TEST(PoolHistoryLine, VerbsHaveTheirFixedWidths) {
  // A verb of the wrong width shifts every name in the history.
  const std::pair<std::string_view, size_t> verbs[] = {
      {history_verb::create_vol, 12},  {history_verb::destroy, 12},
      {history_verb::create_fs, 12},   {history_verb::mount_fs, 12},
      {history_verb::clone_fs, 12},    {history_verb::clone_vol, 12},
      {history_verb::rename_fs, 11},   {history_verb::unmountall, 12},
      {history_verb::snapshot, 12},    {history_verb::destroyall, 12},
      {history_verb::rollback, 12},    {history_verb::send, 12},
      {history_verb::send_error, 12},  {history_verb::receive_in, 12},
      {history_verb::receive_error, 15}, {history_verb::create_pool, 14},
      {history_verb::rollback_failed_create, 28}, {history_verb::add_vdev, 19},
      {history_verb::export_pool, 14}, {history_verb::import_pool, 14},
  };
  for (const auto& [verb, width] : verbs) {
    EXPECT_EQ(verb.size(), width) << "'" << verb << "'";
    EXPECT_EQ(verb.front(), ' ') << "'" << verb << "'";
  }
  EXPECT_EQ(history_verb::clone_separator.size(), 5u);
  EXPECT_EQ(history_verb::rename_separator.size(), 4u);
}

}  // namespace
