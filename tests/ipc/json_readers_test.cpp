#include "ipc/json_readers.h"

#include <gtest/gtest.h>

namespace {

using nlohmann::json;

TEST(JsonReaders, StringsAcceptNumbersAndBools) {
  json j = json::parse(R"({"s": "abc", "i": 42, "f": 1.5, "b": true, "n": null, "o": {}, "a": [1]})");
  for (auto [key, text] : {std::pair{"s", "abc"}, {"i", "42"}, {"f", "1.5"}, {"b", "true"},
                           {"n", "x"}, {"o", "x"}, {"a", "x"}, {"missing", "x"}})
    EXPECT_EQ(json_string_or(j, key, "x"), text) << key;
  EXPECT_EQ(json_string_or(json::array({1}), "s", "x"), "x");
  EXPECT_EQ(json_string_or(json("text"), "s", "x"), "x");
}

TEST(JsonReaders, IntegersAcceptWholeNumbersAsTextAndOnlyWhatFits) {
  json j = json::parse(R"({"i": -7, "t": "123", "neg": "-5", "frac": 2.9, "bad": "12a",
                           "empty": "", "space": " 1", "b": true, "n": null, "o": {"x": 1},
                           "huge": 18446744073709551615, "bigf": 1e300, "tbig": "99999999999999999999"})");
  for (auto [key, value] : {std::pair{"i", -7}, {"t", 123}, {"neg", -5}, {"frac", 2}})
    EXPECT_EQ(json_int_or(j, key, 0), value) << key;
  for (const char* key : {"bad", "empty", "space", "b", "n", "o", "huge", "bigf", "tbig", "missing"})
    EXPECT_EQ(json_int_or(j, key, -99), -99) << key;
  EXPECT_FALSE(json_int_opt(j, "n").has_value());
  EXPECT_EQ(json_int_opt(j, "t"), 123);
  EXPECT_EQ(json_int_or(json(5), "i", 3), 3);

  j = json::parse(R"({"max": 2147483647, "over": 2147483648, "under": "-2147483649", "min": -2147483648})");
  EXPECT_EQ(json_int32_or(j, "max", 0), 2147483647);
  EXPECT_EQ(json_int32_or(j, "min", 0), -2147483647 - 1);
  EXPECT_EQ(json_int32_or(j, "over", 9), 9);
  EXPECT_EQ(json_int32_or(j, "under", 9), 9);
  EXPECT_FALSE(json_int32_opt(j, "over").has_value());
}

TEST(JsonReaders, BoolsAcceptTextsAndNumbers) {
  json j = json::parse(R"({"t": true, "f": false, "s1": "1", "st": "true", "s0": "0", "sf": "false",
                           "n1": 1, "n0": 0, "yes": "yes", "T": "TRUE", "null": null, "arr": []})");
  for (const char* key : {"t", "s1", "st", "n1"}) EXPECT_TRUE(json_bool_or(j, key, false)) << key;
  for (const char* key : {"f", "s0", "sf", "n0"}) EXPECT_FALSE(json_bool_or(j, key, true)) << key;
  for (const char* key : {"yes", "T", "null", "arr", "missing"}) {
    EXPECT_TRUE(json_bool_or(j, key, true)) << key;
    EXPECT_FALSE(json_bool_or(j, key, false)) << key;
  }
}

TEST(JsonReaders, DocumentsComeBackAsText) {
  json j = json::parse(R"({"s": "{\"a\":1}", "o": {"a": 1, "b": [true]}, "n": null})");
  EXPECT_EQ(json_document_or(j, "s", "x"), R"({"a":1})");
  EXPECT_EQ(json::parse(json_document_or(j, "o", "x")), j["o"]);
  EXPECT_EQ(json_document_or(j, "n", "x"), "x");
}

TEST(JsonReaders, ParseObjectNeverThrows) {
  std::string error;
  EXPECT_FALSE(json_parse_object("", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(json_parse_object("{\"a\":", &error));
  EXPECT_FALSE(json_parse_object("[1,2]", &error));
  EXPECT_EQ(error, "not a JSON object");
  EXPECT_FALSE(json_parse_object(std::string("{\"a\":\"\xff\"}")));
  ASSERT_TRUE(json_parse_object(R"({"a": 1})"));
}

TEST(JsonReaders, CompactTextReplacesBrokenUtf8) {
  json j{{"k", std::string("a\xff" "b")}};
  std::string text;
  ASSERT_NO_THROW(text = json_compact_text(j));
  EXPECT_EQ(json::parse(text)["k"], "a\xEF\xBF\xBD" "b");
}

}  // namespace
