#include "ipc/mq_vm_message.h"

#include <regex>

#include <gtest/gtest.h>

namespace {

using nlohmann::json;

mq_vm_message round_trip(const mq_vm_message& m) { return parse_mq_vm_message(mq_vm_message_text(m)); }

TEST(MqVmMessage, EveryKindSurvivesARoundTrip) {
  mq_exit_info exit;
  exit.code = 4;
  exit.signal = 9;
  exit.initiator = "command";
  exit.method = "vms-stop";
  mq_exit_info code_only;
  code_only.code = 0;
  for (const mq_vm_message& m :
       {make_amqp_request_message(R"({"id":1,"method":"vms-start"})", "c-1", "replies"),
        make_confirm_message("403404", 1234, ""),
        make_confirm_message("403404", -1, "q"),
        make_vm_command_message("403404", "stop", "/var/run/ombrix-vm-cli-fifo.10.403404", 30),
        make_vm_command_message("7", "start", "", -1),
        make_vm_exit_message("403404", 1, exit),
        make_vm_exit_message("403404", 0, code_only),
        make_vm_exit_message("403404", -2, std::nullopt),
        make_pool_status_message("z05", "suspend", -1)}) {
    mq_vm_message back = round_trip(m);
    EXPECT_EQ(back, m) << mq_vm_message_text(m) << " -> " << back.error;
    EXPECT_NE(back.kind, MqVmMessageKind::invalid);
  }
}

TEST(MqVmMessage, TextsHaveTheAgreedKeys) {
  json c = json::parse(mq_vm_message_text(make_vm_command_message("9", "pause", "/f", 30)));
  EXPECT_EQ(c["vmid"], "9");
  EXPECT_EQ(c["command"], "pause");
  EXPECT_EQ(c["reply_queue"], "/f");
  EXPECT_EQ(c["status"], 30);
  EXPECT_FALSE(c.contains("type"));
  EXPECT_TRUE(std::regex_match(c["datetime"].get<std::string>(),
                               std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));

  json p = json::parse(mq_vm_message_text(make_pool_status_message("z05", "start", -1)));
  EXPECT_EQ(p["pool"], "z05");
  EXPECT_FALSE(p.contains("vmid"));

  json f = json::parse(mq_vm_message_text(make_confirm_message("9", 77, "")));
  EXPECT_EQ(f["type"], "confirm");
  EXPECT_EQ(f["status"], 77);

  json a = json::parse(mq_vm_message_text(make_amqp_request_message("{}", "id", "rq")));
  EXPECT_EQ(a["type"], "amqp_request");
  EXPECT_EQ(a["message"], "{}");
  EXPECT_EQ(a["corrid"], "id");

  mq_exit_info none;  // neither code nor signal
  json e = json::parse(mq_vm_message_text(make_vm_exit_message("9", 1, none)));
  EXPECT_EQ(e["command"], "exit");
  EXPECT_FALSE(e["exit"].contains("code"));
  EXPECT_FALSE(e["exit"].contains("signal"));
  EXPECT_EQ(e["exit"]["initiator"], "none");
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

}  // namespace
