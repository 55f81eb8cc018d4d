// The AMQP daemon's hand-over of broker requests to the daemon's queue: a
// request goes there with its correlation id unchanged, or is refused with
// its cause (so that the daemon answers it) when the queue cannot take it.
#include "app/amqp_mq_callback.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "ipc/mq_send.h"
#include "tests/ipc/ipc_fixture.h"

namespace {

struct Refusal {
  std::string body, corrid, reply_to, cause;
};

std::string high_bytes() {
  std::string s;
  for (int b = 0x80; b <= 0xff; ++b) s.push_back(static_cast<char>(b));
  return s;
}

TEST(AmqpMqCallback, HandsRequestsOnOrRefusesThemWithTheCause) {
  enum class Queue { open, full, missing };
  struct Case {
    const char* what;
    Queue queue;
    std::string body;
    std::string cause;  // "" when the request reaches the daemon's queue
  };
  const Case cases[] = {
      {"a request", Queue::open, R"({"id":1,"method":"host-inventory"})", ""},
      {"an empty body", Queue::open, "", "The request is empty"},
      {"a body beyond the message size", Queue::open, std::string(5000, 'x'),
       "exceeds the queue's message size"},
      {"a queue that stays full", Queue::full, R"({"id":2})", std::strerror(ETIMEDOUT)},
      {"no daemon", Queue::missing, R"({"id":3})", "MQ not opened"},
  };
  const std::string corrid = high_bytes();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    IpcSandbox sandbox;  // messages of 4 KiB
    PosixMq reader;
    if (c.queue != Queue::missing) {
      ASSERT_TRUE(reader.open_reader(PosixMq::kDaemonQueue));
    }
    if (c.queue == Queue::full) {
      while (mq_send_text(PosixMq::kDaemonQueue, "{}", false, 0).empty()) {
      }
    }
    std::optional<Refusal> refused;
    AmqpMqCallback callback(20);
    callback.set_refuser([&](const std::string& body, const std::string& corr,
                             const std::string& reply_to, const std::string& cause) {
      refused = Refusal{body, corr, reply_to, cause};
    });
    callback.on_message(c.body, corrid, "replies");

    if (c.cause.empty()) {
      EXPECT_FALSE(refused) << refused->cause;
      std::optional<std::string> text = reader.receive();
      ASSERT_TRUE(text);
      mq_vm_message m = parse_mq_vm_message(*text);
      EXPECT_EQ(m.kind, MqVmMessageKind::amqp_request);
      EXPECT_EQ(m.message, c.body);
      EXPECT_EQ(m.corrid, corrid);
      EXPECT_EQ(m.reply_queue, "replies");
      continue;
    }
    ASSERT_TRUE(refused);
    EXPECT_NE(refused->cause.find(c.cause), std::string::npos) << refused->cause;
    EXPECT_EQ(refused->body, c.body);
    EXPECT_EQ(refused->corrid, corrid);
    EXPECT_EQ(refused->reply_to, "replies");
  }
}

}  // namespace
