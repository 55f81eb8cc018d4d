#include "amqp/amqp_channel.h"

#include <amqp.h>

#include "amqp/amqp_bytes.h"
#include "amqp/amqp_channel_core.h"
#include "amqp/amqp_connection.h"

AmqpChannel::AmqpChannel(AmqpConnection* connection) {
  core_ = connection->open_channel();
  if (!core_) throw std::runtime_error("the connection cannot open a channel");
}

AmqpChannel::~AmqpChannel() { core_->close_by_client(); }

bool AmqpChannel::usable() const { return core_->usable() && core_->connection_; }

uint16_t AmqpChannel::id() const { return core_->id(); }

void AmqpChannel::onError(std::function<void(const std::string&)> f) { core_->on_error = std::move(f); }

void AmqpChannel::onReturned(std::function<void(const AmqpMessage&)> f) {
  core_->on_returned = std::move(f);
}

AmqpDeferred& AmqpChannel::declareExchange(const std::string& name, const std::string& type,
                                           bool durable) {
  amqp_exchange_declare_t m{};
  m.exchange = amqp_view(name);
  m.type = amqp_view(type);
  m.durable = durable;
  m.arguments = amqp_empty_table;
  return core_->request(AMQP_EXCHANGE_DECLARE_METHOD, &m, AMQP_EXCHANGE_DECLARE_OK_METHOD);
}

AmqpDeferred& AmqpChannel::declareQueue(const std::string& name, bool durable) {
  amqp_queue_declare_t m{};
  m.queue = amqp_view(name);
  m.durable = durable;
  m.arguments = amqp_empty_table;
  return core_->request(AMQP_QUEUE_DECLARE_METHOD, &m, AMQP_QUEUE_DECLARE_OK_METHOD);
}

AmqpDeferred& AmqpChannel::bindQueue(const std::string& exchange, const std::string& queue,
                                     const std::string& routing_key) {
  amqp_queue_bind_t m{};
  m.queue = amqp_view(queue);
  m.exchange = amqp_view(exchange);
  m.routing_key = amqp_view(routing_key);
  m.arguments = amqp_empty_table;
  return core_->request(AMQP_QUEUE_BIND_METHOD, &m, AMQP_QUEUE_BIND_OK_METHOD);
}

AmqpDeferred& AmqpChannel::consume(const std::string& queue, const std::string& tag, bool no_ack) {
  amqp_basic_consume_t m{};
  m.queue = amqp_view(queue);
  m.consumer_tag = amqp_view(tag);
  m.no_ack = no_ack;
  m.arguments = amqp_empty_table;
  return core_->request(AMQP_BASIC_CONSUME_METHOD, &m, AMQP_BASIC_CONSUME_OK_METHOD);
}

AmqpDeferred& AmqpChannel::cancel(const std::string& tag) {
  amqp_basic_cancel_t m{};
  m.consumer_tag = amqp_view(tag);
  return core_->request(AMQP_BASIC_CANCEL_METHOD, &m, AMQP_BASIC_CANCEL_OK_METHOD);
}

bool AmqpChannel::hasConsumer(const std::string& tag) const { return core_->consumers.count(tag) > 0; }

AmqpDeferred& AmqpChannel::startTransaction() {
  // The channel stays transactional once selected; later starts are no-ops.
  if (core_->tx_selected && core_->usable()) return core_->settled(true, "");
  amqp_tx_select_t m{};
  core_->tx_selected = true;
  return core_->request(AMQP_TX_SELECT_METHOD, &m, AMQP_TX_SELECT_OK_METHOD);
}

AmqpDeferred& AmqpChannel::commitTransaction() {
  amqp_tx_commit_t m{};
  return core_->request(AMQP_TX_COMMIT_METHOD, &m, AMQP_TX_COMMIT_OK_METHOD);
}

bool AmqpChannel::publish(const std::string& exchange, const std::string& routing_key,
                          const AmqpMessage& envelope, bool mandatory) {
  amqp_basic_publish_t m{};
  m.exchange = amqp_view(exchange);
  m.routing_key = amqp_view(routing_key);
  m.mandatory = mandatory;
  amqp_basic_properties_t p{};
  if (!envelope.content_type.empty()) {
    p._flags |= AMQP_BASIC_CONTENT_TYPE_FLAG;
    p.content_type = amqp_view(envelope.content_type);
  }
  if (!envelope.correlation_id.empty()) {
    p._flags |= AMQP_BASIC_CORRELATION_ID_FLAG;
    p.correlation_id = amqp_view(envelope.correlation_id);
  }
  if (!envelope.reply_to.empty()) {
    p._flags |= AMQP_BASIC_REPLY_TO_FLAG;
    p.reply_to = amqp_view(envelope.reply_to);
  }
  // Persistent, so that a durable queue keeps it across a broker restart.
  p._flags |= AMQP_BASIC_DELIVERY_MODE_FLAG;
  p.delivery_mode = 2;
  return core_->publish(m, p, envelope.body);
}
