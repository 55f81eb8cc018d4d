// The AMQP service end to end: the service runs in a sandbox against the
// private broker, and the independent client plays the management system.
#include <signal.h>

#include <fstream>
#include <sstream>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "ipc/mq_send.h"
#include "tests/amqp/broker.h"
#include "tests/amqp/relay.h"
#include "tests/integration/sandbox.h"

namespace {

using amqp_test::peer;
using amqp_test::peer_get;
using test_support::eventually;

class AmqpService : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(amqp_test::broker_port(), 0) << "the broker fixture did not start";
    ASSERT_EQ(sandbox_.made().status, 0) << sandbox_.made().output;
    exchange_ = amqp_test::unique_name("ex");
    cmd_ = amqp_test::unique_name("cmd");
    pub_ = amqp_test::unique_name("pub");
    event_ = amqp_test::unique_name("ev");
    std::string path = sandbox_.path("/usr/local/etc/ombrix-vm.config");
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    std::string config = text.str();
    std::string amqp = "[AMQP]\nHost = 127.0.0.1\nUser = guest\nPassword = guest\nPort = " +
                       std::to_string(amqp_test::broker_port()) + "\nExchange = " + exchange_ +
                       "\nEventKey = " + event_ + "\nPublishQueue = " + pub_ +
                       "\nCmdQueue = " + cmd_ + "\nHeartbeats = 5\n";
    auto at = config.find("[AMQP]\nPort = 5672\nHeartbeats = 5\n");
    ASSERT_NE(at, std::string::npos) << config;
    config.replace(at, std::string("[AMQP]\nPort = 5672\nHeartbeats = 5\n").size(), amqp);
    std::ofstream(path) << config;
  }
  void TearDown() override {
    sandbox_.ombrix({"stop"});
    for (const auto& q : {cmd_, pub_, event_, pool_queue_})
      if (!q.empty()) amqp_test::ctl({"delete_queue", q});
  }

  // The answer of the service to `body` sent to the command queue.
  nlohmann::json rpc(const std::string& body, const std::string& corrid, double timeout = 30) {
    auto run = peer({"rpc", cmd_, body, corrid, std::to_string(timeout)});
    if (run.output.empty()) return nullptr;
    return nlohmann::json::parse(run.output);
  }

  // Replaces the configuration's line `from` with `to`.
  void set_line(const std::string& from, const std::string& to) {
    std::string path = sandbox_.path("/usr/local/etc/ombrix-vm.config");
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    std::string config = text.str();
    auto at = config.find(from + "\n");
    ASSERT_NE(at, std::string::npos) << from;
    config.replace(at, from.size(), to);
    std::ofstream(path) << config;
  }
  // Points the configuration at another broker port.
  void set_port(int from, int to) {
    set_line("Port = " + std::to_string(from), "Port = " + std::to_string(to));
  }
  std::string log() {
    std::stringstream text;
    text << std::ifstream(sandbox_.path("/var/log/ombrix-vm.log")).rdbuf();
    return text.str();
  }

  Sandbox sandbox_{{"--pool", "z05", "--vms", "1"}};
  std::string exchange_, cmd_, pub_, event_, pool_queue_;
};

TEST_F(AmqpService, RequestsFromTheManagementSystemAreAnswered) {
  ASSERT_EQ(sandbox_.ombrix({"start", "--daemon"}).status, 0);
  // The consumer is there once the AMQP daemon has connected.
  ASSERT_TRUE(eventually([&] {
    return amqp_test::consumer_count(cmd_) > 0;
  }, std::chrono::seconds(30)));

  auto reply = rpc(R"({"jsonrpc":"2.0","id":"inv-1","method":"host-inventory","params":{}})", "corr-inv");
  ASSERT_TRUE(reply.is_object());
  EXPECT_EQ(reply["correlation_id"], "corr-inv");
  EXPECT_EQ(reply["content_type"], "application/json");
  auto body = nlohmann::json::parse(reply["body"].get<std::string>());
  EXPECT_EQ(body["id"], "inv-1");
  EXPECT_EQ(body["result"]["code"], 1);
  EXPECT_TRUE(body["result"]["data"]["localhost"].contains("z05")) << body.dump();

  reply = rpc(R"({"jsonrpc":"2.0","id":"s-1","method":"vms-start","params":{}})", "corr-start");
  ASSERT_TRUE(reply.is_object());
  EXPECT_EQ(reply["correlation_id"], "corr-start");
  body = nlohmann::json::parse(reply["body"].get<std::string>());
  EXPECT_EQ(body["error"]["code"], -1);
  EXPECT_EQ(body["error"]["data"], "vms-start");

  // Garbage gets an error reply too; without a reply-to it goes to PublishQueue.
  peer({"send", "", cmd_, "this is not json", "corr-bad", ""});
  auto got = peer_get(pub_, 1, 20);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0]["correlation_id"], "corr-bad");
  EXPECT_EQ(nlohmann::json::parse(got[0]["body"].get<std::string>())["error"]["code"], -5);
}

TEST_F(AmqpService, SighupWithANewAddressReconnectsThere) {
  auto relay = std::make_unique<amqp_test::Relay>(amqp_test::broker_port());
  ASSERT_EQ(sandbox_.ombrix({"start", "--daemon"}).status, 0);
  ASSERT_TRUE(eventually([&] {
    return amqp_test::consumer_count(cmd_) > 0;
  }, std::chrono::seconds(30)));
  ASSERT_TRUE(rpc(R"({"id":"a","method":"host-inventory"})", "before").is_object());

  set_port(amqp_test::broker_port(), relay->port());
  auto daemons = find_titled_processes(daemon_title);
  ASSERT_EQ(daemons.size(), 1u);
  ::kill(daemons[0], SIGHUP);
  // Requests are answered through the relay once the AMQP daemon is back
  // (the orderly close, then the next attempt 5 s later).
  ASSERT_TRUE(eventually([&] {
    return rpc(R"({"id":"b","method":"host-inventory"})", "after", 3).is_object();
  }, std::chrono::seconds(40)));
  // Without the relay the service has no broker any more.
  relay.reset();
  EXPECT_FALSE(eventually([&] {
    return rpc(R"({"id":"c","method":"host-inventory"})", "gone", 2).is_object();
  }, std::chrono::seconds(4)));
}

// A re-read address that the client cannot parse is not applied: the working
// connection stays and requests go on being answered.
TEST_F(AmqpService, SighupWithAnAddressTheClientRefusesKeepsTheConnection) {
  ASSERT_EQ(sandbox_.ombrix({"start", "--daemon"}).status, 0);
  ASSERT_TRUE(eventually([&] {
    return amqp_test::ctl({"list_consumers", "queue_name"}).find(cmd_) != std::string::npos;
  }, std::chrono::seconds(30)));
  auto daemons = find_titled_processes(daemon_title);
  ASSERT_EQ(daemons.size(), 1u);
  std::string host = "Host = 127.0.0.1";
  int n = 0;
  for (const char* bad : {"[", "[::1]:99"}) {
    SCOPED_TRACE(bad);
    set_line(host, std::string("Host = ") + bad);
    host = std::string("Host = ") + bad;
    auto reread = [&] {
      std::string text = log();
      size_t count = 0;
      for (size_t at = text.find("amqp:config:"); at != std::string::npos;
           at = text.find("amqp:config:", at + 1))
        ++count;
      return count;
    };
    size_t before = reread();
    ::kill(daemons[0], SIGHUP);
    ASSERT_TRUE(eventually([&] { return reread() > before; }));
    std::string corrid = "kept-" + std::to_string(++n);
    auto reply = rpc(R"({"id":"k","method":"host-inventory"})", corrid, 15);
    ASSERT_TRUE(reply.is_object());
    EXPECT_EQ(reply["correlation_id"], corrid);
    EXPECT_NE(log().find(fmt::format("### amqp:config: bad AMQP host '{}'", bad)), std::string::npos);
  }
}

// A pool's queue is consumed while the pool is started: stopping and starting
// the pool from the command line stops and starts its consumer.
TEST_F(AmqpService, PoolQueueIsConsumedWhileThePoolIsStarted) {
  pool_queue_ = amqp_test::unique_name("pool");
  sandbox_.write("/pools/z05/.internal/etc/ombrix-vm_pool.conf", "ConsumeQueue = " + pool_queue_ + "\n");
  ::setenv("OMBRIX_WRAPPER_RELEASE_PAUSE_MS", "0", 1);
  auto started = sandbox_.ombrix({"start", "--daemon"});
  ::unsetenv("OMBRIX_WRAPPER_RELEASE_PAUSE_MS");
  ASSERT_EQ(started.status, 0) << started.output;
  auto consumed = [&] {
    return amqp_test::consumer_count(pool_queue_) > 0;
  };
  // The started pool's queue is taken up once the AMQP daemon has connected.
  ASSERT_TRUE(eventually(consumed, std::chrono::seconds(30)));

  auto stop = sandbox_.ombrix({"pool", "stop", "--id=z05"});
  ASSERT_EQ(stop.status, 0) << stop.output;
  EXPECT_TRUE(eventually([&] { return !consumed(); }, std::chrono::seconds(30)));
  auto start = sandbox_.ombrix({"pool", "start", "--id=z05"});
  ASSERT_EQ(start.status, 0) << start.output;
  EXPECT_TRUE(eventually(consumed, std::chrono::seconds(30)));
}

TEST_F(AmqpService, AKilledAmqpDaemonLosesNoCachedMessage) {
  ASSERT_EQ(sandbox_.ombrix({"start", "--daemon"}).status, 0);
  ASSERT_TRUE(eventually([&] {
    return amqp_test::consumer_count(cmd_) > 0;
  }, std::chrono::seconds(30)));
  ASSERT_EQ(amqp_test::broker({"pause"}).status, 0);
  bool resumed = false;
  struct Resume {
    bool& done;
    ~Resume() {
      if (!done) amqp_test::broker({"resume"});
    }
  } resume{resumed};

  for (int i = 1; i <= 3; ++i)
    ASSERT_EQ(mq_send_to_amqp("k-" + std::to_string(i), pub_, "{\"n\":" + std::to_string(i) + "}", ""), "");
  std::string db = sandbox_.path("/var/db/ombrix-vm-amqp.db");
  ASSERT_TRUE(eventually([&] {
    return Sandbox::run_program("/usr/bin/sqlite3", {db, "SELECT COUNT(*) FROM publish"}).output == "3\n";
  }));
  auto amqp = find_titled_processes(amqp_daemon_title);
  ASSERT_EQ(amqp.size(), 1u);
  ::kill(amqp[0], SIGKILL);
  ASSERT_TRUE(eventually([&] {
    Sandbox::reap_children();
    return find_titled_processes(amqp_daemon_title).empty();
  }));

  ASSERT_EQ(amqp_test::broker({"resume"}).status, 0);
  resumed = true;
  // A new start replaces the partial service; its AMQP daemon sends the cache.
  ASSERT_EQ(sandbox_.ombrix({"start", "--daemon"}).status, 0);
  auto got = peer_get(pub_, 4, 30);
  ASSERT_EQ(got.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(got[i]["correlation_id"], "k-" + std::to_string(i + 1));
}

// Correlation ids are bytes, carried unchanged to the daemon and back; a
// request that cannot reach the daemon is answered all the same.
TEST_F(AmqpService, EveryRequestIsAnsweredUnderItsExactCorrelationId) {
  ASSERT_EQ(sandbox_.ombrix({"start", "--daemon"}).status, 0);
  ASSERT_TRUE(eventually([&] {
    return amqp_test::ctl({"list_consumers", "queue_name"}).find(cmd_) != std::string::npos;
  }, std::chrono::seconds(30)));
  std::string high;  // 0x80 ... 0xff in hexadecimal
  for (int b = 0x80; b <= 0xff; ++b) high += fmt::format("{:02x}", b);

  struct Case {
    const char* what;
    std::string body;
    std::string corrid_hex;
    nlohmann::json id;
    int code;             // the result's code, or the error's (-1)
    std::string message;  // part of the error's message
  };
  const Case cases[] = {
      {"a request", R"({"id":"inv","method":"host-inventory"})", high, "inv", 1, ""},
      {"an empty body", "", "656d707479", nullptr, -1, "The request is empty"},
      {"a request larger than the daemon's queue takes", "big:300000", high, "big", -1,
       "exceeds the queue's message size"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    nlohmann::json reply = rpc(c.body, "hex:" + c.corrid_hex);
    ASSERT_TRUE(reply.is_object());
    EXPECT_EQ(reply["correlation_id_hex"], c.corrid_hex);
    auto body = nlohmann::json::parse(reply["body"].get<std::string>());
    EXPECT_EQ(body["id"], c.id);
    if (c.code == 1) {
      EXPECT_EQ(body["result"]["code"], 1) << body.dump();
      continue;
    }
    EXPECT_EQ(body["error"]["code"], c.code) << body.dump();
    EXPECT_NE(body["error"]["message"].get<std::string>().find(c.message), std::string::npos)
        << body.dump();
  }
}

}  // namespace
