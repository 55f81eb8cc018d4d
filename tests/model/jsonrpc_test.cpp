#include "model/jsonrpc.h"

#include <gtest/gtest.h>

namespace {

TEST(JsonRpc, ReplyAndErrorForms) {
  nlohmann::json reply = nlohmann::json::parse(make_jsonrpc_reply("r-1", 1, {{"vm_id", "7"}}));
  EXPECT_EQ(reply, nlohmann::json::parse(
                       R"({"id":"r-1","jsonrpc":"2.0","result":{"code":1,"data":{"vm_id":"7"}}})"));
  // Numeric ids stay numbers.
  EXPECT_EQ(nlohmann::json::parse(make_jsonrpc_reply(42, 1, nullptr))["id"], 42);

  nlohmann::json error =
      nlohmann::json::parse(make_jsonrpc_error("r-2", -460, "Pool 'z05' is suspended"));
  EXPECT_EQ(error["jsonrpc"], "2.0");
  EXPECT_FALSE(error.contains("result"));
  EXPECT_EQ(error["error"]["code"], -460);
  EXPECT_EQ(error["error"]["message"], "Pool 'z05' is suspended");
  EXPECT_TRUE(error["error"]["data"].is_null());
}

TEST(JsonRpc, TextsThatAreNotUtf8DoNotThrow) {
  std::string bad = "bad \xff\xfe text";
  std::string text;
  EXPECT_NO_THROW(text = make_jsonrpc_error("x", -5, bad));
  EXPECT_NO_THROW(nlohmann::json::parse(text));
  EXPECT_NO_THROW(text = make_vm_message_event("7", bad));
  EXPECT_NO_THROW(nlohmann::json::parse(text));
}

TEST(JsonRpc, VmEvent) {
  VmEvent e;
  e.vm_id = "403404";
  e.status = VmStatus::started;
  e.progress = 100;
  e.pid = 4242;
  nlohmann::json j = nlohmann::json::parse(make_vm_event(e));
  EXPECT_EQ(j, nlohmann::json::parse(R"({"data":{"vm_id":"403404","status":"started",
      "progress":100,"pid":4242,"exit":null,"initiator":"none"}})"));

  e.status = VmStatus::offline;
  e.exit_signal = 9;
  e.initiator = "command";
  j = nlohmann::json::parse(make_vm_event(e));
  EXPECT_EQ(j["data"]["exit"], nlohmann::json::parse(R"({"signal":9})"));
  EXPECT_EQ(j["data"]["initiator"], "command");
}

TEST(JsonRpc, VmMessageEvent) {
  EXPECT_EQ(nlohmann::json::parse(make_vm_message_event("7", "CloudInit session begin")),
            nlohmann::json::parse(R"({"vm_id":"7","message":"CloudInit session begin"})"));
}

}  // namespace
