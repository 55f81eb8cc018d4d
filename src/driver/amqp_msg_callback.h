// How the AMQP service hands on what it receives. The AMQP client does not own
// its callback; the callback outlives the client.
#pragma once

#include <string>

class AmqpMsgCallback {
 public:
  virtual ~AmqpMsgCallback() = default;

  // A consumed message: its body, correlation id and reply-to queue (the last
  // two "" when the message has none).
  virtual void on_message(const std::string& body, const std::string& correlation_id,
                          const std::string& reply_to) = 0;

  // The consumer of a pool's queue has started (`started` true) or stopped.
  virtual void on_event(const std::string& pool, bool started) = 0;
};
