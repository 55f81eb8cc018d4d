// The AMQP daemon's callback from the broker client: what the broker delivers
// goes on to the daemon's message queue. A request that cannot go there (an
// empty body; a record larger than the queue's messages; a queue that stays
// full for `send_timeout_ms`; no queue) is handed to the refuser with the
// cause, so that it is answered instead of lost.
#pragma once

#include <functional>
#include <string>

#include "driver/amqp_msg_callback.h"
#include "ipc/posix_mq.h"

class AmqpMqCallback : public AmqpMsgCallback {
 public:
  // body, correlation id, reply-to, cause
  using Refuser = std::function<void(const std::string&, const std::string&, const std::string&,
                                     const std::string&)>;

  explicit AmqpMqCallback(int send_timeout_ms = PosixMq::kSendTimeoutMs)
      : send_timeout_ms_(send_timeout_ms) {}

  void set_refuser(Refuser refuser) { refuser_ = std::move(refuser); }

  // Sends the message as an "amqp_request" record to the daemon; a message
  // that cannot be sent is logged and refused.
  void on_message(const std::string& body, const std::string& correlation_id,
                  const std::string& reply_to) override;

  // Tells the daemon that the consumer of `pool`'s queue started or stopped.
  void on_event(const std::string& pool, bool started) override;

 private:
  void refuse(const std::string& body, const std::string& correlation_id,
              const std::string& reply_to, const std::string& cause);

  int send_timeout_ms_;
  Refuser refuser_;
};
