// The parts of the AMQP service that need no broker: addresses, the answers
// to broker requests, and the client's timers and back-off.
#include <ev.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "amqp/amqp_address.h"
#include "amqp/amqp_client.h"
#include "amqp/amqp_request_reply.h"
#include "tests/support/temp_root.h"

namespace {

TEST(AmqpAddress, ParsesWhatItCanAndRefusesTheRest) {
  struct Case {
    const char* text;
    bool ok;
    bool tls;
    const char* user;
    const char* password;
    const char* host;
    int port;
    const char* vhost;
  } cases[] = {
      {"amqp://u:p@broker:5673/prod", true, false, "u", "p", "broker", 5673, "prod"},
      {"amqp://broker", true, false, "guest", "guest", "broker", 5672, "/"},
      {"amqps://u:p%40ss@h", true, true, "u", "p@ss", "h", 5671, "/"},
      {"amqp://u:p@[::1]:5000/%2f", true, false, "u", "p", "::1", 5000, "/"},
      {"http://broker", false, false, "", "", "", 0, ""},
      {"amqp://", false, false, "", "", "", 0, ""},
      {"amqp://h:99999", false, false, "", "", "", 0, ""},
      {"amqp://h:12x", false, false, "", "", "", 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    if (!c.ok) {
      EXPECT_THROW(AmqpAddress::parse(c.text), std::invalid_argument);
      continue;
    }
    AmqpAddress a = AmqpAddress::parse(c.text);
    EXPECT_EQ(a.tls, c.tls);
    EXPECT_EQ(a.user, c.user);
    EXPECT_EQ(a.password, c.password);
    EXPECT_EQ(a.host, c.host);
    EXPECT_EQ(a.port, c.port);
    EXPECT_EQ(a.vhost, c.vhost);
  }
}

TEST(AmqpRequestReply, EveryRequestIsAnswered) {
  host_inventory inv;
  inv.nodes["localhost"]["z05"].state = PoolState::started;
  auto source = [&] { return inv; };
  struct Case {
    std::string body, corrid, reply_to;
    std::string want_queue, want_corrid;
    int want_code;       // result code or error code
    bool want_result;
  } cases[] = {
      {R"({"id":"a1","method":"host-inventory"})", "c1", "rq", "rq", "c1", 1, true},
      {R"({"id":5,"method":"vms-start","params":{}})", "c2", "", "pubq", "c2", -1, false},
      {"not json", "c3", "rq", "rq", "c3", -5, false},
      {R"({"method":"host-inventory"})", "c4", "rq", "rq", "c4", -5, false},
      {R"({"id":"x9","method":"vms-stop"})", "", "rq", "rq", "x9", -1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    auto reply = answer_amqp_request(c.body, c.corrid, c.reply_to, "pubq", source);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->reply_queue, c.want_queue);
    EXPECT_EQ(reply->corrid, c.want_corrid);
    auto j = nlohmann::json::parse(reply->message);
    EXPECT_EQ(j["jsonrpc"], "2.0");
    if (c.want_result) {
      EXPECT_EQ(j["result"]["code"], c.want_code);
      EXPECT_EQ(j["result"]["data"]["localhost"]["z05"]["state"].is_string(), true);
    } else {
      EXPECT_EQ(j["error"]["code"], c.want_code);
    }
  }
  auto unsupported = nlohmann::json::parse(
      answer_amqp_request(R"({"id":5,"method":"vms-start"})", "c", "q", "", source)->message);
  EXPECT_EQ(unsupported["error"]["data"], "vms-start");
  std::string why;
  EXPECT_FALSE(answer_amqp_request("{}", "", "", "", source, &why));
  EXPECT_FALSE(why.empty());
}

TEST(AmqpRequestReply, RefusedRequestsAreAnsweredWithTheirCause) {
  struct Case {
    std::string body, corrid, reply_to;
    std::string want_queue, want_corrid;
    nlohmann::json want_id;
  } cases[] = {
      {"", "c1", "rq", "rq", "c1", nullptr},
      {R"({"id":"big","method":"vms-start","params":{}})", "", "", "pubq", "big", "big"},
      {R"({"id":7})", "c3", "", "pubq", "c3", 7},
      {"not json", "c4", "rq", "rq", "c4", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    auto reply = refuse_amqp_request(c.body, c.corrid, c.reply_to, "pubq", "The cause");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->reply_queue, c.want_queue);
    EXPECT_EQ(reply->corrid, c.want_corrid);
    EXPECT_EQ(nlohmann::json::parse(reply->message),
              nlohmann::json({{"id", c.want_id},
                              {"jsonrpc", "2.0"},
                              {"error", {{"code", -1}, {"message", "The cause"}, {"data", nullptr}}}}));
  }
  std::string why;
  EXPECT_FALSE(refuse_amqp_request("", "", "rq", "pubq", "The cause", &why));
  EXPECT_FALSE(why.empty());
}

struct NoCallback : AmqpMsgCallback {
  void on_message(const std::string&, const std::string&, const std::string&) override {}
  void on_event(const std::string&, bool) override {}
};

TEST(AmqpClientTimers, RecreationBackOffDoublesToItsLimitAndResets) {
  test_support::TempRoot root;
  struct ev_loop* loop = ev_loop_new(EVFLAG_AUTO);
  NoCallback cb;
  AmqpClient::Options o;
  o.recreate_first = 0.001;
  o.recreate_max = 0.03;
  {
    AmqpClient client("ombrix-vm", loop, cb, o);
    std::vector<double> delays;
    for (int i = 0; i < 6; ++i) {
      delays.push_back(client.recreate_delay());
      client.schedule_channel_recreation();
      client.schedule_channel_recreation();  // while it runs: no change
      ev_run(loop, 0);                       // the timer fires and stops
    }
    EXPECT_EQ(delays, (std::vector<double>{0.001, 0.002, 0.004, 0.008, 0.016, 0.03}));
    client.cancel_channel_recreation();
    EXPECT_EQ(client.recreate_delay(), 0.001);

    // A refused address stops the attempts until a good one is applied.
    client.apply_config("ftp://x", "ex", "ev", "pub", "cmd", 5);
    EXPECT_FALSE(client.address_usable());
    client.start();
    EXPECT_FALSE(client.watcher());
    client.publish_reply("id", "{}", "pub");  // cached, nothing to send it with
    PublishHead head = client.cache().head();
    EXPECT_EQ(head.msgid, "id");
    client.cache().release_head();
  }
  ev_loop_destroy(loop);
}

}  // namespace
