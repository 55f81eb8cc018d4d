#include "driver/uuid.h"

#include <regex>
#include <set>

#include <gtest/gtest.h>

namespace {

TEST(Sha1Uuid, KnownDigests) {
  // SHA-1("abc") = a9993e36 4706816a ba3e2571 7850c26c 9cd0d89d
  EXPECT_EQ(sha1_uuid("abc", 3), "a9993e36-4706-516a-ba3e-25717850c26c");
  // SHA-1("") = da39a3ee 5e6b4b0d 3255bfef 95601890 afd80709
  EXPECT_EQ(sha1_uuid("", 0), "da39a3ee-5e6b-5b0d-b255-bfef95601890");
  EXPECT_EQ(sha1_uuid(nullptr, 0), "da39a3ee-5e6b-5b0d-b255-bfef95601890");
  // SHA-1("403404") = c437c352 d126a5d5 dabc336a 5498ab92 0b1fb4dc: both the
  // version nibble and the variant bits had to change.
  EXPECT_EQ(sha1_uuid("403404", 6), "c437c352-d126-55d5-9abc-336a5498ab92");
  // Bytes, not text: a NUL inside counts.
  EXPECT_NE(sha1_uuid("a\0b", 3), sha1_uuid("a", 1));
}

TEST(MakeUuid, RandomVersion4) {
  const std::regex form("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    std::string id = make_uuid_text();
    EXPECT_TRUE(std::regex_match(id, form)) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 100u);
}

}  // namespace
