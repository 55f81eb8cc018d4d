#include "bhwrap/checkpoint_config_text.h"

#include <gtest/gtest.h>

namespace {

TEST(CheckpointConfigText, FirstKeyWinsAndLinesWithoutEqualsAreDropped) {
  checkpoint_config_map config =
      parse_checkpoint_config("a=1\nb=2=3\na=9\nnoequals\n=x\nlast=z");
  checkpoint_config_map expected = {{"a", "1"}, {"b", "2=3"}, {"", "x"}, {"last", "z"}};
  EXPECT_EQ(config, expected);
}

TEST(CheckpointConfigText, NothingIsTrimmed) {
  using namespace std::string_literals;
  checkpoint_config_map config =
      parse_checkpoint_config(" k = v \r\nempty=\n\n\nnul=a\0b\n"s);
  checkpoint_config_map expected = {{" k ", " v \r"}, {"empty", ""}, {"nul", "a\0b"s}};
  EXPECT_EQ(config, expected);
}

TEST(CheckpointConfigText, EmptyOrKeylessTextGivesNoPairs) {
  EXPECT_TRUE(parse_checkpoint_config("").empty());
  EXPECT_TRUE(parse_checkpoint_config("\n\n").empty());
  EXPECT_TRUE(parse_checkpoint_config("abc").empty());
  EXPECT_EQ(parse_checkpoint_config("="), (checkpoint_config_map{{"", ""}}));
  EXPECT_EQ(parse_checkpoint_config("k=v\n"), (checkpoint_config_map{{"k", "v"}}));
}

}  // namespace
