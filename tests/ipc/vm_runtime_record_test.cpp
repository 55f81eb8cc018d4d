#include "ipc/vm_runtime_record.h"

#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

namespace {

TEST(VmRuntimeRecord, RoundTrip) {
  VmRuntimeRecord r;
  r.vmid = "403404";
  r.method = "vms-start";
  r.pid = 4321;
  r.ppid = 4320;
  r.tstamp = 0;
  r.abort_count = 2;
  r.abort_time = 1700000000123;
  r.item = R"({"id":"403404","ram":2147483648})";
  r.restart_started = true;
  EXPECT_EQ(parse_runtime_record(r.to_text()), r);
  EXPECT_EQ(parse_runtime_record(VmRuntimeRecord{}.to_text()), VmRuntimeRecord{});
  EXPECT_TRUE(nlohmann::json::parse(r.to_text())["item"].is_string());
}

TEST(VmRuntimeRecord, BrokenTextsGiveTheDefaults) {
  for (const char* text : {"", "{", "null", "[1,2]", "\"text\"", "{\"vmid\": "})
    EXPECT_EQ(parse_runtime_record(text), VmRuntimeRecord{}) << text;
}

TEST(VmRuntimeRecord, LenientMembers) {
  VmRuntimeRecord r = parse_runtime_record(
      R"({"vmid": 12, "pid": "99", "ppid": null, "tstamp": "x", "abort_count": 5000000000,
          "abort_time": "1700000000", "item": {"id": "12"}, "restart_started": "1"})");
  EXPECT_EQ(r.vmid, "12");
  EXPECT_EQ(r.pid, 99);
  EXPECT_EQ(r.ppid, 0);
  EXPECT_EQ(r.tstamp, 30);
  EXPECT_EQ(r.abort_count, 0);
  EXPECT_EQ(r.abort_time, 1700000000);
  EXPECT_EQ(nlohmann::json::parse(r.item), nlohmann::json::parse(R"({"id": "12"})"));
  EXPECT_TRUE(r.restart_started);
}

}  // namespace
