// The AMQP daemon's callback from the broker client: what the broker delivers
// goes on to the daemon's message queue.
#pragma once

#include <string>

#include "driver/amqp_msg_callback.h"

class AmqpMqCallback : public AmqpMsgCallback {
 public:
  // Sends the message as an "amqp_request" record to the daemon; a send
  // failure is logged and the message dropped.
  void on_message(const std::string& body, const std::string& correlation_id,
                  const std::string& reply_to) override;

  // Tells the daemon that the consumer of `pool`'s queue started or stopped.
  void on_event(const std::string& pool, bool started) override;
};
