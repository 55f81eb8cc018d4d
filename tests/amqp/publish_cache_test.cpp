// The publish cache, both variants, through the AmqpPublishCache interface.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "amqp/cache_sql.h"
#include "amqp/publish_cache.h"
#include "tests/support/temp_root.h"

namespace {

std::string shell_output(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

class PublishCacheTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    cache_ = make_publish_cache(GetParam());
    ASSERT_TRUE(cache_);
    base_ = root_.dir() + "/cache";
    ASSERT_FALSE(cache_->open(base_));
  }
  test_support::TempRoot root_{false};
  std::unique_ptr<AmqpPublishCache> cache_;
  std::string base_;
};

TEST_P(PublishCacheTest, KeepsOrderAndHandsOutOneEntryAtATime) {
  EXPECT_EQ(cache_->head().msgid, "");
  EXPECT_FALSE(cache_->head().busy);
  EXPECT_EQ(cache_->pop(), 0u);

  const std::string tricky = "a|b\nc 'quoted' \"x\"; DROP TABLE publish;--";
  ASSERT_FALSE(cache_->push("id-1", tricky, "q'1"));
  ASSERT_FALSE(cache_->push("id-2", "{\"two\":2}", "q2"));
  ASSERT_FALSE(cache_->push("id-3", "three", "q3"));

  PublishHead h = cache_->head();
  EXPECT_EQ(h.msgid, "id-1");
  EXPECT_EQ(h.message, tricky);
  EXPECT_EQ(h.queue, "q'1");
  EXPECT_TRUE(cache_->head().busy);
  cache_->release_head();
  EXPECT_EQ(cache_->head().msgid, "id-1");
  EXPECT_EQ(cache_->pop(), 2u);
  h = cache_->head();
  EXPECT_EQ(h.msgid, "id-2");
  EXPECT_EQ(h.message, "{\"two\":2}");
  EXPECT_EQ(cache_->pop(), 1u);
  EXPECT_FALSE(cache_->take_error());
}

TEST_P(PublishCacheTest, SurvivesReopening) {
  ASSERT_FALSE(cache_->push("id-1", "one", "q"));
  ASSERT_FALSE(cache_->push("id-2", "two", "q"));
  auto again = make_publish_cache(GetParam());
  ASSERT_FALSE(again->open(base_));
  EXPECT_EQ(again->head().msgid, "id-1");
  EXPECT_EQ(again->pop(), 1u);
  EXPECT_EQ(again->head().message, "two");
}

INSTANTIATE_TEST_SUITE_P(Variants, PublishCacheTest, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 0 ? "File" : "SQL"; });

TEST(PublishCacheKinds, OnlyFileAndSql) { EXPECT_FALSE(make_publish_cache(2)); }

TEST(PublishCacheSQL, TableIsReadableByTheSqliteShell) {
  test_support::TempRoot root(false);
  AmqpCacheSQL cache;
  ASSERT_FALSE(cache.open(root.dir() + "/c"));
  ASSERT_FALSE(cache.push("m1", "hello", "replies"));
  std::string schema = shell_output("sqlite3 " + cache.db_path() + " .schema");
  EXPECT_NE(schema.find("CREATE TABLE publish(ID      INTEGER PRIMARY KEY AUTOINCREMENT,"
                        "MSGID   CHAR(32),QUEUE   CHAR(32),MESSAGE TEXT)"),
            std::string::npos)
      << schema;
  EXPECT_EQ(shell_output("sqlite3 " + cache.db_path() + " 'SELECT MSGID,QUEUE,MESSAGE FROM publish'"),
            "m1|replies|aGVsbG8=\n");
}

TEST(PublishCacheSQL, CorruptDatabaseIsRecreated) {
  test_support::TempRoot root(false);
  std::string base = root.dir() + "/c";
  {
    std::ofstream f(base + ".db");
    f << std::string(5000, 'x');
  }
  AmqpCacheSQL cache;
  auto text = cache.open(base);
  ASSERT_TRUE(text);
  EXPECT_NE(text->find("was re-created, 5000 B of queued publications are lost"), std::string::npos)
      << *text;
  EXPECT_TRUE(cache.usable());
  EXPECT_FALSE(cache.push("m", "x", "q"));
  EXPECT_EQ(cache.head().msgid, "m");
}

TEST(PublishCacheSQL, ATableOfAnotherShapeIsRecreated) {
  const char* const tables[] = {
      "CREATE TABLE publish(ID INTEGER PRIMARY KEY AUTOINCREMENT,MSGID CHAR(32),QUEUE CHAR(32),"
      "MESSAGE TEXT,EXTRA TEXT NOT NULL);",
      "CREATE TABLE publish(ID INTEGER PRIMARY KEY AUTOINCREMENT,MSGID CHAR(32),MESSAGE TEXT);",
      "CREATE TABLE publish(ID TEXT,MSGID CHAR(32),QUEUE CHAR(32),MESSAGE TEXT);",
  };
  for (const char* table : tables) {
    SCOPED_TRACE(table);
    test_support::TempRoot root(false);
    std::string base = root.dir() + "/c";
    shell_output("sqlite3 " + base + ".db '" + table + "'");
    AmqpCacheSQL cache;
    auto text = cache.open(base);
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("the publish table has other columns"), std::string::npos) << *text;
    EXPECT_NE(text->find("B of queued publications are lost"), std::string::npos) << *text;
    ASSERT_TRUE(cache.usable());
    EXPECT_FALSE(cache.push("m", "x", "q"));
    EXPECT_EQ(cache.head().message, "x");
  }
}

TEST(PublishCacheSQL, UnusableHeadRecordsAreRemovedNotBlocking) {
  test_support::TempRoot root(false);
  AmqpCacheSQL cache;
  ASSERT_FALSE(cache.open(root.dir() + "/c"));
  ASSERT_FALSE(cache.push("m1", "x", "q"));
  ASSERT_FALSE(cache.push("", "no id", "q"));
  ASSERT_FALSE(cache.push("m3", "three", "q"));
  shell_output("sqlite3 " + cache.db_path() + " \"UPDATE publish SET MESSAGE='***' WHERE MSGID='m1'\"");
  PublishHead h = cache.head();
  EXPECT_EQ(h.msgid, "m3");
  EXPECT_EQ(h.message, "three");
  auto error = cache.take_error();
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("removed"), std::string::npos);
  EXPECT_EQ(cache.pop(), 0u);
}

// A message that is a number is never handed out, whatever it decodes to.
TEST(PublishCacheSQL, HeadRecordsWhoseMessageIsANumberOrABlobAreRemoved) {
  test_support::TempRoot root(false);
  std::string base = root.dir() + "/c";
  // Columns without a type keep numbers as numbers.
  std::ofstream(root.dir() + "/rows.sql")
      << "CREATE TABLE publish(ID INTEGER PRIMARY KEY AUTOINCREMENT,MSGID,QUEUE,MESSAGE);\n"
         "INSERT INTO publish (MSGID,QUEUE,MESSAGE) VALUES ('m1','q',1234);\n"
         "INSERT INTO publish (MSGID,QUEUE,MESSAGE) VALUES ('m2','q',12.5);\n"
         "INSERT INTO publish (MSGID,QUEUE,MESSAGE) VALUES ('m3','q',-77);\n"
         "INSERT INTO publish (MSGID,QUEUE,MESSAGE) VALUES ('m3b','q',CAST('dGhyZWU=' AS BLOB));\n"
         "INSERT INTO publish (MSGID,QUEUE,MESSAGE) VALUES ('m4','q','dHdv');\n";
  shell_output("sqlite3 " + base + ".db < " + root.dir() + "/rows.sql");
  AmqpCacheSQL cache;
  ASSERT_FALSE(cache.open(base));
  PublishHead h = cache.head();
  EXPECT_EQ(h.msgid, "m4");
  EXPECT_EQ(h.message, "two");
  auto error = cache.take_error();
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("(msgid 'm3b'); it is removed"), std::string::npos) << *error;
  EXPECT_EQ(cache.pop(), 0u);
  EXPECT_EQ(shell_output("sqlite3 " + base + ".db 'SELECT COUNT(*) FROM publish'"), "0\n");
}

TEST(PublishCacheSQL, NotOpenedIsNotUsable) {
  AmqpCacheSQL cache;
  EXPECT_EQ(cache.push("m", "x", "q").value_or(""), "publish cache '.db' is not usable");
  EXPECT_EQ(cache.head().msgid, "");
  EXPECT_TRUE(cache.take_error());
}

TEST(PublishCacheFile, MalformedLinesArePassedOverAndBadHeadsDropped) {
  test_support::TempRoot root(false);
  auto cache = make_publish_cache(0);
  ASSERT_FALSE(cache->open(root.dir() + "/c"));
  {
    std::ofstream f(root.dir() + "/c.publish");
    f << "\nno separators\nbad|q|***\ngood|q|" << "dHdv" << "\n";
  }
  PublishHead h = cache->head();
  EXPECT_EQ(h.msgid, "good");
  EXPECT_EQ(h.message, "two");
  EXPECT_TRUE(cache->take_error());
  EXPECT_EQ(cache->pop(), 0u);
  EXPECT_FALSE(std::filesystem::exists(root.dir() + "/c.publish.tmp"));
}

TEST(PublishCacheFile, IdsAndQueuesThatALineCannotHoldAreRefused) {
  test_support::TempRoot root(false);
  auto cache = make_publish_cache(0);
  ASSERT_FALSE(cache->open(root.dir() + "/c"));
  const std::pair<std::string, std::string> refused[] = {
      {"a|b", "q"}, {"a", "q|r"}, {"a\nb", "q"}, {"a", "q\n"},
      {std::string("a\0b", 3), "q"}, {"a", std::string("q\0", 2)},
  };
  for (const auto& [msgid, queue] : refused) EXPECT_TRUE(cache->push(msgid, "m", queue)) << msgid << queue;
  ASSERT_FALSE(cache->push("ok", "m", "q"));
  PublishHead h = cache->head();
  EXPECT_EQ(h.msgid, "ok");
  EXPECT_EQ(h.queue, "q");
  EXPECT_EQ(cache->pop(), 0u);
}

// A bad head that cannot be dropped (the file cannot be rewritten: its ".tmp"
// is a directory, which binds root too) ends head() with an error.
TEST(PublishCacheFile, ABadHeadThatCannotBeDroppedIsReportedNotRetriedForEver) {
  test_support::TempRoot root(false);
  auto cache = make_publish_cache(0);
  ASSERT_FALSE(cache->open(root.dir() + "/c"));
  std::ofstream(root.dir() + "/c.publish") << "bad|q|***\ngood|q|dHdv\n";
  std::filesystem::create_directory(root.dir() + "/c.publish.tmp");
  PublishHead h = cache->head();
  EXPECT_EQ(h.msgid, "");
  auto error = cache->take_error();
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("cannot be removed"), std::string::npos) << *error;
  // Once the file can be rewritten, the bad head goes and the good one comes.
  std::filesystem::remove(root.dir() + "/c.publish.tmp");
  h = cache->head();
  EXPECT_EQ(h.msgid, "good");
  EXPECT_EQ(h.message, "two");
}

}  // namespace
