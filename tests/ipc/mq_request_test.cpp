#include "ipc/mq_request.h"

#include <gtest/gtest.h>

namespace {

TEST(MqRequest, RoundTrip) {
  for (const mq_request& r : {mq_request{"c-1", "replies", R"({"jsonrpc":"2.0"})", ""},
                              mq_request{kPoolControlCorrid, "z05", "start", "5"},
                              mq_request{"x", "", "", ""}}) {
    std::string error;
    std::optional<mq_request> back = parse_mq_request(mq_request_text(r), &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(*back, r);
  }
}

TEST(MqRequest, LenientAndNeverThrowing) {
  std::optional<mq_request> r = parse_mq_request(R"({"corrid": 12, "message": {"a": [1]}, "timer": 3})");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->corrid, "12");
  EXPECT_EQ(r->message, R"({"a":[1]})");
  EXPECT_EQ(r->timer, "3");
  EXPECT_EQ(r->reply_queue, "");

  std::string error;
  for (const char* text : {"", "{", "[1]", "{}", R"({"reply_queue": "q"})"}) {
    error.clear();
    EXPECT_FALSE(parse_mq_request(text, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

}  // namespace
