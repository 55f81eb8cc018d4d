#include "app/amqp_mq_callback.h"

#include <spdlog/spdlog.h>

#include "ipc/mq_send.h"

void AmqpMqCallback::on_message(const std::string& body, const std::string& correlation_id,
                                const std::string& reply_to) {
  if (body.empty()) {
    spdlog::error("### AMQP request corrid={} has an empty body", correlation_id);
    refuse(body, correlation_id, reply_to, "The request is empty");
    return;
  }
  std::string error = mq_send_amqp_request(body, correlation_id, reply_to, send_timeout_ms_);
  if (error.empty()) return;
  spdlog::error("### MQ send error: {}; {} {}", error, __FILE__, __LINE__);
  refuse(body, correlation_id, reply_to, "The request cannot be passed to the daemon: " + error);
}

void AmqpMqCallback::refuse(const std::string& body, const std::string& correlation_id,
                            const std::string& reply_to, const std::string& cause) {
  if (refuser_) refuser_(body, correlation_id, reply_to, cause);
}

void AmqpMqCallback::on_event(const std::string& pool, bool started) {
  // The consumer state of the pool's queue, as a pool record: command
  // "consume", status 1 when the consumer has started, else 0.
  std::string error = mq_send_pool_status(pool, "consume", started ? 1 : 0);
  if (!error.empty()) spdlog::error("### MQ send error: {}; {} {}", error, __FILE__, __LINE__);
}
