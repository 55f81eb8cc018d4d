// The JSON-RPC transport against the stand-in target: one exchange per
// answer the target gets wrong, connection reuse, and forks.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "nvmf/base_target_manager.h"
#include "nvmf/request_builders.h"
#include "nvmf/spdk_exchange.h"
#include "tests/nvmf/nvmf_stand_ins.h"
#include "tests/nvmf/scripted_target.h"

namespace {

using json = nlohmann::json;
using test_support::NvmfStandIns;

class SpdkTransport : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(stand_ins_.ready());
    nvmf::set_spdk_answer_wait(std::chrono::milliseconds(300));
  }
  void TearDown() override { nvmf::set_spdk_answer_wait(std::chrono::milliseconds(5000)); }

  NvmfStandIns stand_ins_{false};
};

std::string error_message(const std::string& answer) {
  return json::parse(answer, nullptr, false).value("/error/message"_json_pointer, std::string("<none>"));
}

TEST_F(SpdkTransport, EveryWrongAnswerBecomesAnErrorAndDropsTheConnection) {
  const struct {
    const char* kind;
    bool ok;
    std::string message;  // the beginning of the error message
  } cases[] = {
      {"", true, ""},
      {"split", true, ""},
      {"exact_64k", true, ""},
      {"close", false, "SPDK not answer! Try check running 'spdk_tgt'."},
      {"silent", false, "SPDK not answer! Timeout (5 sec) expired."},
      {"invalid_json", false, "SPDK answer is incomplete! Timeout (5 sec) expired."},
      {"wrong_id", false, "SPDK answer belongs to another request: sent id "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    if (*c.kind) stand_ins_.fault("nvmf_get_subsystems", c.kind);
    nvmf::SpdkConnections connections;
    std::string request = nvmf::nvmf_get_subsystems_request(), answer;
    bool ok = nvmf::spdk_rpc_exchange(connections, request, answer, "127.0.0.1");
    EXPECT_EQ(ok, c.ok);
    if (c.ok) {
      json parsed = json::parse(answer);
      EXPECT_EQ(parsed["id"], json::parse(request)["id"]);
      EXPECT_TRUE(parsed["result"].is_array());
      if (std::string(c.kind) == "exact_64k") {
        EXPECT_EQ(answer.size(), 65536u);
      }
      EXPECT_EQ(connections.size(), 1u) << "kept for the next request";
    } else {
      EXPECT_EQ(json::parse(answer)["error"]["code"], -1);
      EXPECT_EQ(error_message(answer).rfind(c.message, 0), 0u) << answer;
      EXPECT_EQ(connections.size(), 0u);
    }
  }
}

TEST_F(SpdkTransport, WrongIdNamesBothIdsAndTheMethod) {
  stand_ins_.fault("nvmf_get_subsystems", "wrong_id");
  nvmf::SpdkConnections connections;
  std::string request = nvmf::nvmf_get_subsystems_request(), answer;
  ASSERT_FALSE(nvmf::spdk_rpc_exchange(connections, request, answer, "127.0.0.1"));
  int64_t id = json::parse(request)["id"];
  EXPECT_EQ(error_message(answer), "SPDK answer belongs to another request: sent id " + std::to_string(id) +
                                       ", got id " + std::to_string(id + 1) +
                                       " (method nvmf_get_subsystems). Connection was out of sync and has been closed.");
  std::string error;
  EXPECT_TRUE(nvmf::check_answer_id(R"({"id":5})", R"({"id":null})", error));
  EXPECT_TRUE(nvmf::check_answer_id(R"({"id":5})", "not json", error));
}

TEST_F(SpdkTransport, UnreachableTargetsFailToConnect) {
  nvmf::SpdkConnections connections;
  for (const char* host : {"spdk.local", "127.0.0.2"}) {
    std::string answer;
    EXPECT_FALSE(nvmf::spdk_rpc_exchange(connections, nvmf::nvmf_get_subsystems_request(), answer, host));
    EXPECT_EQ(answer, R"({"error":{"code":-1,"message":"Error connect to socket!"}})") << host;
  }
}

TEST_F(SpdkTransport, ReusesTheThreadsConnectionAndJudgesErrorAnswers) {
  int64_t before = stand_ins_.connections();
  nvmf::base_target_manager manager;
  std::string answer;
  EXPECT_TRUE(manager.exchange(nvmf::nvmf_get_subsystems_request(), answer, "127.0.0.1"));
  EXPECT_FALSE(manager.exchange(nvmf::nvmf_delete_subsystem_request("nqn.none"), answer, "127.0.0.1"));
  EXPECT_EQ(error_message(answer), "Unable to find subsystem with NQN nqn.none");
  EXPECT_TRUE(manager.exchange(nvmf::nvmf_get_subsystems_request(), answer, "127.0.0.1"));
  EXPECT_EQ(stand_ins_.connections() - before, 1 + 1) << "one connection, plus the test's own query";
  nvmf::drop_host_connection("127.0.0.1");
}

TEST(SpdkConnectionCache, EachHostHasItsOwnConnection) {
  NvmfStandIns any_address(false, true, "0.0.0.0");
  ASSERT_TRUE(any_address.ready());
  int64_t before = any_address.connections();
  nvmf::SpdkConnections connections;
  std::string answer;
  for (const char* host : {"127.0.0.1", "127.0.0.2", "127.0.0.1", "127.0.0.2"})
    ASSERT_TRUE(nvmf::spdk_rpc_exchange(connections, nvmf::nvmf_get_subsystems_request(), answer, host)) << answer;
  EXPECT_EQ(connections.size(), 2u);
  EXPECT_NE(connections.find("127.0.0.1"), connections.find("127.0.0.2"));
  EXPECT_EQ(any_address.connections() - before, 2 + 1) << "two, plus the test's own query";
}

TEST_F(SpdkTransport, AForkedChildOpensItsOwnConnection) {
  nvmf::base_target_manager manager;
  std::string answer;
  ASSERT_TRUE(manager.exchange(nvmf::nvmf_get_subsystems_request(), answer, "127.0.0.1"));
  int64_t before = stand_ins_.connections();
  test_support::ChildProcess child([] {
    if (nvmf::spdk_connections().size() != 0) return 2;
    nvmf::base_target_manager in_child;
    std::string got;
    return in_child.exchange(nvmf::nvmf_get_subsystems_request(), got, "127.0.0.1") ? 0 : 3;
  });
  EXPECT_EQ(child.wait(), 0);
  EXPECT_EQ(stand_ins_.connections() - before, 1 + 1) << "the child's, plus the test's own query";
  EXPECT_TRUE(manager.exchange(nvmf::nvmf_get_subsystems_request(), answer, "127.0.0.1"))
      << "the parent's connection is still in step";
  nvmf::drop_host_connection("127.0.0.1");
}

// Targets that never finish: each exchange ends within its one deadline (and
// the size limit) with a transport error, and drops the connection.
TEST(SpdkBoundedExchange, EndlessAnswersAndHangingConnectsEnd) {
  using test_support::ScriptedTarget;
  using namespace std::chrono_literals;
  const struct {
    const char* name;
    ScriptedTarget::Script script;  // empty: a target whose backlog is full
    std::string message;
  } cases[] = {
      {"trickle", {" ", 1 << 20, 20ms}, "SPDK answer is incomplete! Timeout (5 sec) expired."},
      {"trickle_unfinished", {"[", 1 << 20, 20ms}, "SPDK answer is incomplete! Timeout (5 sec) expired."},
      {"oversized", {"\"" + std::string(65535, 'x'), 64 << 20, 0ms},
       "SPDK answer is incomplete! Timeout (5 sec) expired."},
      {"connect_hangs", {}, "Error connect to socket!"},
  };
  nvmf::set_spdk_answer_wait(400ms);
  nvmf::set_spdk_answer_limit(1 << 20);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test_support::TempRoot root;
    std::unique_ptr<ScriptedTarget> target;
    if (c.script.total == 0) {
      target = std::make_unique<ScriptedTarget>();
      target->fill_backlog();
    } else {
      target = std::make_unique<ScriptedTarget>(c.script);
    }
    ASSERT_TRUE(target->ready());
    nvmf::SpdkConnections connections;
    std::string answer;
    EXPECT_FALSE(nvmf::spdk_rpc_exchange(connections, nvmf::nvmf_get_subsystems_request(), answer, "127.0.0.1"));
    EXPECT_EQ(answer, json({{"error", {{"code", -1}, {"message", c.message}}}}).dump());
    EXPECT_EQ(connections.size(), 0u);
  }
  nvmf::set_spdk_answer_limit(nvmf::default_spdk_answer_limit);
  nvmf::set_spdk_answer_wait(5000ms);
}

}  // namespace
