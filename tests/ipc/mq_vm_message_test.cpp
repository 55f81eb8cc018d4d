#include "ipc/mq_vm_message.h"
#include "ipc/mq_request.h"

#include <regex>

#include <gtest/gtest.h>

namespace {

using nlohmann::json;

mq_vm_message round_trip(const mq_vm_message& m) { return parse_mq_vm_message(mq_vm_message_text(m)); }

TEST(MqVmMessage, EveryKindSurvivesARoundTrip) {
  for (const mq_vm_message& m :
       {make_amqp_request_message(R"({"id":1,"method":"vms-start"})", "c-1", "replies"),
        make_confirm_message("403404", 1234, ""),
        make_confirm_message("403404", -1, "q"),
        make_vm_command_message("403404", "stop", "/var/run/ombrix-vm-cli-fifo.10.403404", 30),
        make_vm_command_message("7", "start", "", -1),
        make_vm_exit_message("403404", 1, mq_exit_info{4, 9, "command", "vms-stop"}),
        make_vm_exit_message("403404", 0, mq_exit_info{.code = 0, .signal = std::nullopt, .initiator = "none", .method = ""}),
        make_vm_exit_message("403404", -2, std::nullopt),
        make_pool_status_message("z05", "suspend", -1)}) {
    mq_vm_message back = round_trip(m);
    EXPECT_EQ(back, m) << mq_vm_message_text(m) << " -> " << back.error;
    EXPECT_NE(back.kind, MqVmMessageKind::invalid);
  }
}

TEST(MqVmMessage, TextsHaveTheAgreedKeys) {
  // The text as JSON; the records without a type carry the local time.
  auto text = [](const mq_vm_message& m) {
    json j = json::parse(mq_vm_message_text(m));
    if (!j.contains("type")) {
      EXPECT_TRUE(std::regex_match(j.value("datetime", ""),
                                   std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"))) << j;
      j.erase("datetime");
    }
    return j;
  };
  EXPECT_EQ(text(make_vm_command_message("9", "pause", "/f", 30)),
            json::parse(R"({"vmid": "9", "command": "pause", "reply_queue": "/f", "status": 30})"));
  EXPECT_EQ(text(make_pool_status_message("z05", "start", -1)),
            json::parse(R"({"pool": "z05", "command": "start", "reply_queue": "", "status": -1})"));
  EXPECT_EQ(text(make_confirm_message("9", 77, "")),
            json::parse(R"({"type": "confirm", "vmid": "9", "status": 77, "reply_queue": ""})"));
  EXPECT_EQ(text(make_amqp_request_message("{}", "id", "rq")),
            json::parse(R"({"type": "amqp_request", "message": "{}", "corrid": "id", "reply_queue": "rq"})"));
  // An exit with neither code nor signal.
  EXPECT_EQ(text(make_vm_exit_message("9", 1, mq_exit_info{})),
            json::parse(R"({"vmid": "9", "command": "exit", "status": 1,
                            "exit": {"initiator": "none", "method": ""}})"));
}

TEST(MqVmMessage, LenientFields) {
  mq_vm_message m = parse_mq_vm_message(R"({"vmid": 403404, "command": "stop", "status": "30"})");
  ASSERT_EQ(m.kind, MqVmMessageKind::vm_command);
  EXPECT_EQ(m.vmid, "403404");
  EXPECT_EQ(m.status, 30);
  EXPECT_EQ(m.reply_queue, "");

  m = parse_mq_vm_message(R"({"type": "confirm", "vmid": "5", "status": "abc"})");
  ASSERT_EQ(m.kind, MqVmMessageKind::confirm);
  EXPECT_EQ(m.status, -1);

  m = parse_mq_vm_message(R"({"vmid": "5", "command": "exit", "status": 1,
                              "exit": {"code": "3", "signal": null, "initiator": 7}})");
  ASSERT_EQ(m.kind, MqVmMessageKind::vm_exit);
  ASSERT_TRUE(m.exit);
  EXPECT_EQ(m.exit->code, 3);
  EXPECT_FALSE(m.exit->signal);
  EXPECT_EQ(m.exit->initiator, "7");
  EXPECT_EQ(m.exit->method, "");

  m = parse_mq_vm_message(R"({"vmid": "5", "command": "exit", "status": 1, "exit": "junk"})");
  ASSERT_EQ(m.kind, MqVmMessageKind::vm_exit);
  EXPECT_FALSE(m.exit);

  // A broker request forwarded as an object instead of a text.
  m = parse_mq_vm_message(R"({"type": "amqp_request", "message": {"id": 1}, "corrid": 5})");
  ASSERT_EQ(m.kind, MqVmMessageKind::amqp_request);
  EXPECT_EQ(json::parse(m.message), json::parse(R"({"id": 1})"));
  EXPECT_EQ(m.corrid, "5");
}

TEST(MqVmMessage, UnusableTextsAreInvalidWithAReason) {
  for (const char* text : {"", "not json", "[]", "42", "{}", R"({"type": "other", "vmid": "1"})",
                           R"({"type": "confirm"})", R"({"type": "amqp_request"})",
                           R"({"vmid": "1"})", R"({"pool": "z05"})", R"({"vmid": "", "command": "stop"})",
                           R"({"vmid": {}, "command": "stop"})"}) {
    mq_vm_message m = parse_mq_vm_message(text);
    EXPECT_EQ(m.kind, MqVmMessageKind::invalid) << text;
    EXPECT_FALSE(m.error.empty()) << text;
  }
  EXPECT_EQ(read_mq_vm_message(json::array()).kind, MqVmMessageKind::invalid);
}

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

namespace {

std::string bytes_from(int first, int last) {
  std::string s;
  for (int b = first; b <= last; ++b) s.push_back(static_cast<char>(b));
  return s;
}

// Correlation ids are bytes: both records between the AMQP daemon and the
// daemon carry them unchanged, and a UTF-8 id is written as it always was.
TEST(CorrelationIdBytes, SurviveBothRecordsAndUtf8IdsKeepTheirText) {
  struct Case {
    std::string corrid;
    bool utf8;
  };
  const Case cases[] = {
      {"corr-1", true},
      {"\xc3\xa9t\xc3\xa9 \xe2\x9c\x93", true},  // "été ✓"
      {bytes_from(0x80, 0xff), false},
      {"a\xff" "b", false},
      {"\xc3", false},  // a cut sequence
  };
  for (const Case& c : cases) {
    mq_vm_message m = make_amqp_request_message(R"({"id":1})", c.corrid, "rq");
    EXPECT_EQ(round_trip(m).corrid, c.corrid);
    std::optional<mq_request> r = parse_mq_request(mq_request_text(mq_request{c.corrid, "rq", "{}", ""}));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->corrid, c.corrid);
    if (c.utf8) {
      EXPECT_EQ(json::parse(mq_vm_message_text(m)),
                json({{"type", "amqp_request"}, {"message", R"({"id":1})"}, {"corrid", c.corrid},
                      {"reply_queue", "rq"}}));
      EXPECT_EQ(json::parse(mq_request_text(mq_request{c.corrid, "rq", "{}", ""})),
                json({{"corrid", c.corrid}, {"reply_queue", "rq"}, {"message", "{}"}, {"timer", ""}}));
    }
  }
  // A record written without the exact bytes (an older writer) reads as before.
  EXPECT_EQ(parse_mq_vm_message(R"({"type": "amqp_request", "message": "m", "corrid": "\ufffd"})").corrid,
            "\xef\xbf\xbd");
  // Exact bytes that are not base64 leave the plain value.
  EXPECT_EQ(parse_mq_request(R"({"corrid": "c", "corrid_b64": "#", "message": "m"})")->corrid, "c");
}

}  // namespace
