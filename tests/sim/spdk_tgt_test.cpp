// The stand-in storage target and initiator service, spoken to over plain
// sockets: framing, protocol errors, and the state they keep.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/nvmf/nvmf_stand_ins.h"

namespace {

using json = nlohmann::json;
using test_support::NvmfStandIns;

// Sends `bytes` on one connection and reads until `answers` complete objects
// came or the target stops sending.
std::vector<json> converse(int port, const std::string& bytes, size_t answers) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<json> got;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    std::string text;
    pollfd p{fd, POLLIN, 0};
    while (got.size() < answers && ::poll(&p, 1, 2000) == 1) {
      char buffer[4096];
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
      // Answers are objects one after the other: take them off one by one.
      for (size_t end = 1; end <= text.size(); ++end) {
        if (!json::accept(text.substr(0, end))) continue;
        got.push_back(json::parse(text.substr(0, end)));
        text.erase(0, end);
        end = 0;
      }
    }
  }
  ::close(fd);
  return got;
}

TEST(SpdkTgtStandIn, AnswersSeveralRequestsOfOneConnectionInOrder) {
  NvmfStandIns stand_ins(false);
  ASSERT_TRUE(stand_ins.ready());
  std::vector<json> answers = converse(
      stand_ins.port(),
      R"({"id":1,"jsonrpc":"2.0","method":"nvmf_create_subsystem","params":{"nqn":"nqn.2023-08.x:a"}})"
      R"({"id":2,"jsonrpc":"2.0","method":"nvmf_create_subsystem","params":{"nqn":"nqn.2023-08.x:a"}})"
      R"({"id":3,"jsonrpc":"2.0","method":"no_such_method"} {"id":4,"jsonrpc":"2.0","method":"nvmf_get_subsystems"})"
      "}garbage",
      5);
  ASSERT_EQ(answers.size(), 5u);
  EXPECT_EQ(answers[0], json::parse(R"({"id":1,"jsonrpc":"2.0","result":true})"));
  EXPECT_EQ(answers[1]["error"]["message"], "Unable to create subsystem nqn.2023-08.x:a");
  EXPECT_EQ(answers[2]["error"]["code"], -32601);
  EXPECT_EQ(answers[3]["id"], 4);
  EXPECT_EQ(answers[3]["result"].size(), 2u) << "discovery and the new one";
  EXPECT_EQ(answers[4]["error"]["code"], -32700);
}

// As strict as the real target: what it refuses, with the JSON-RPC error it
// refuses it with; the target answers the next request after each.
TEST(SpdkTgtStandIn, RefusesWhatTheRealTargetRefuses) {
  NvmfStandIns stand_ins(false);
  ASSERT_TRUE(stand_ins.ready());
  const std::string long_nqn = "nqn.2023-08.x:" + std::string(210, 'a');
  const struct {
    const char* name;
    std::string request;
    int code;
    json id;
  } cases[] = {
      {"wrong type", R"({"id":1,"jsonrpc":"2.0","method":"nvmf_create_subsystem","params":{"nqn":"nqn.2023-08.x:a","allow_any_host":"yes"}})",
       -32602, 1},
      {"unknown member", R"({"id":2,"jsonrpc":"2.0","method":"nvmf_create_subsystem","params":{"nqn":"nqn.2023-08.x:a","allow_any_hosts":true}})",
       -32602, 2},
      {"unknown nested member", R"({"id":3,"jsonrpc":"2.0","method":"nvmf_subsystem_add_ns","params":{"nqn":"nqn.2023-08.x:a","namespace":{"bdev":"p/v"}}})",
       -32602, 3},
      {"negative count", R"({"id":4,"jsonrpc":"2.0","method":"bdev_aio_create","params":{"name":"v","filename":"/v","block_size":-1}})",
       -32602, 4},
      {"missing member", R"({"id":5,"jsonrpc":"2.0","method":"nvmf_delete_subsystem","params":{}})", -32602, 5},
      {"params not structured", R"({"id":6,"jsonrpc":"2.0","method":"nvmf_get_subsystems","params":7})", -32600, 6},
      {"bad host NQN", R"({"id":7,"jsonrpc":"2.0","method":"nvmf_subsystem_add_host","params":{"nqn":"nqn.2023-08.x:a","host":"host1"}})",
       -32602, 7},
      {"bad subsystem NQN", R"({"id":8,"jsonrpc":"2.0","method":"nvmf_create_subsystem","params":{"nqn":"nqn.2023-13.x:a"}})",
       -32602, 8},
      {"long subsystem NQN", R"({"id":9,"jsonrpc":"2.0","method":"nvmf_create_subsystem","params":{"nqn":")" + long_nqn + R"("}})",
       -32602, 9},
      {"no version", R"({"id":10,"method":"nvmf_get_subsystems"})", -32600, 10},
      {"old version", R"({"id":11,"jsonrpc":"1.0","method":"nvmf_get_subsystems"})", -32600, 11},
      {"object id", R"({"id":{"n":1},"jsonrpc":"2.0","method":"nvmf_get_subsystems"})", -32600, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<json> answers = converse(stand_ins.port(), c.request, 1);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0]["error"]["code"], c.code) << answers[0];
    EXPECT_EQ(answers[0]["id"], c.id);
  }
  // Nothing of it was made, and the target still serves.
  EXPECT_EQ(stand_ins.target_result("nvmf_get_subsystems").size(), 1u) << "the discovery subsystem only";

  // A notification is run and not answered.
  std::vector<json> answers = converse(
      stand_ins.port(),
      R"({"jsonrpc":"2.0","method":"nvmf_create_subsystem","params":{"nqn":"nqn.2023-08.x:n"}})"
      R"({"jsonrpc":"2.0","method":"no_such_method"})"
      R"({"id":"last","jsonrpc":"2.0","method":"nvmf_get_subsystems"})",
      1);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0]["id"], "last");
  EXPECT_EQ(answers[0]["result"].size(), 2u);
}

TEST(SpdkTgtStandIn, KeepsBlockDevicesSubsystemsAndControllers) {
  NvmfStandIns stand_ins;
  ASSERT_TRUE(stand_ins.ready());
  stand_ins.make_zvol("p/v");
  const std::string nqn = "nqn.2023-08.x:v";
  const json listener = {{"trtype", "tcp"}, {"traddr", "127.0.0.1"}, {"trsvcid", "4420"}};
  const struct {
    const char* method;
    json params;
    std::string error;  // "" = success
  } steps[] = {
      {"bdev_aio_create", {{"name", "p/x"}, {"filename", "/dev/zvol/p/x"}}, "No such file or directory"},
      {"bdev_aio_create", {{"name", "p/v"}, {"filename", "/dev/zvol/p/v"}, {"block_size", 4096}}, ""},
      {"bdev_aio_create", {{"name", "p/v"}, {"filename", "/dev/zvol/p/v"}}, "File exists"},
      {"nvmf_subsystem_add_ns", {{"nqn", nqn}, {"namespace", {{"bdev_name", "p/v"}}}},
       "Unable to find subsystem with NQN " + nqn},
      {"nvmf_create_subsystem", {{"nqn", nqn}, {"allow_any_host", false}}, ""},
      {"nvmf_subsystem_add_ns", {{"nqn", nqn}, {"namespace", {{"bdev_name", "p/v"}}}}, ""},
      {"nvmf_subsystem_add_ns", {{"nqn", nqn}, {"namespace", {{"bdev_name", "p/v"}}}},
       "Unable to add namespace: bdev p/v is claimed"},
      {"nvmf_subsystem_add_listener", {{"nqn", nqn}, {"listen_address", listener}}, ""},
      {"nvmf_subsystem_add_listener", {{"nqn", nqn}, {"listen_address", listener}}, ""},  // kept once
      {"nvmf_subsystem_add_host", {{"nqn", nqn}, {"host", "nqn.2014-08.h:one"}}, ""},
  };
  for (const auto& s : steps) {
    json answer = stand_ins.target(s.method, s.params);
    EXPECT_EQ(answer.value("/error/message"_json_pointer, std::string()), s.error) << s.method << " " << s.params;
  }

  // The initiator checks the host against the target before it connects.
  json refused = stand_ins.initiator("create", {{"nqn", nqn}, {"target", "127.0.0.1"}, {"hostnqn", "nqn.2014-08.h:two"}});
  EXPECT_EQ(refused["error"]["message"], "Host 'nqn.2014-08.h:two' is not allowed to connect to " + nqn);
  json created = stand_ins.initiator("create", {{"nqn", nqn}, {"target", "127.0.0.1"}, {"hostnqn", "nqn.2014-08.h:one"}});
  ASSERT_TRUE(created.contains("result")) << created;
  EXPECT_EQ(stand_ins.target_result("nvmf_subsystem_get_controllers", {{"nqn", nqn}}).size(), 1u);
  EXPECT_EQ(stand_ins.initiator("list")["result"][0]["dev"], created["result"]["dev"]);

  EXPECT_TRUE(stand_ins.initiator("destroy", {{"nqn", nqn}, {"target", "127.0.0.1"}}).contains("result"));
  EXPECT_EQ(stand_ins.target_result("nvmf_subsystem_get_controllers", {{"nqn", nqn}}).size(), 0u);

  // Without its listener the subsystem cannot be connected to.
  stand_ins.target("nvmf_subsystem_remove_listener", {{"nqn", nqn}, {"listen_address", listener}});
  json unreachable = stand_ins.initiator("create", {{"nqn", nqn}, {"target", "127.0.0.1"}, {"hostnqn", "nqn.2014-08.h:one"}});
  EXPECT_EQ(unreachable["error"]["message"], "Subsystem " + nqn + " has no listener on 127.0.0.1:4420");
}

}  // namespace
