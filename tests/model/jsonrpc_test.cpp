#include "model/jsonrpc.h"

#include <gtest/gtest.h>

namespace {

using nlohmann::json;

TEST(JsonRpc, ReplyAndErrorForms) {
  EXPECT_EQ(json::parse(make_jsonrpc_reply("r-1", 1, {{"vm_id", "7"}})),
            json::parse(R"({"id":"r-1","jsonrpc":"2.0","result":{"code":1,"data":{"vm_id":"7"}}})"));
  // Numeric ids stay numbers.
  EXPECT_EQ(json::parse(make_jsonrpc_reply(42, 1, nullptr))["id"], 42);
  EXPECT_EQ(json::parse(make_jsonrpc_error("r-2", -460, "Pool 'z05' is suspended")),
            json::parse(R"({"id":"r-2","jsonrpc":"2.0",
                "error":{"code":-460,"message":"Pool 'z05' is suspended","data":null}})"));
}

TEST(JsonRpc, VmEvents) {
  VmEvent e;
  e.vm_id = "403404";
  e.status = VmStatus::started;
  e.progress = 100;
  e.pid = 4242;
  EXPECT_EQ(json::parse(make_vm_event(e)), json::parse(R"({"data":{"vm_id":"403404",
      "status":"started","progress":100,"pid":4242,"exit":null,"initiator":"none"}})"));
  e.status = VmStatus::offline;
  e.exit_signal = 9;
  e.initiator = "command";
  json j = json::parse(make_vm_event(e));
  EXPECT_EQ(j["data"]["exit"], json::parse(R"({"signal":9})"));
  EXPECT_EQ(j["data"]["initiator"], "command");

  EXPECT_EQ(json::parse(make_vm_message_event("7", "CloudInit session begin")),
            json::parse(R"({"vm_id":"7","message":"CloudInit session begin"})"));
}

TEST(JsonRpc, TextsThatAreNotUtf8DoNotThrow) {
  std::string bad = "bad \xff\xfe text";
  std::string text;
  EXPECT_NO_THROW(text = make_jsonrpc_error("x", -5, bad));
  EXPECT_NO_THROW(json::parse(text));
  EXPECT_NO_THROW(text = make_vm_message_event("7", bad));
  EXPECT_NO_THROW(json::parse(text));
}

}  // namespace
