// AmqpChannel: a channel of a ready AmqpConnection. Every request gives an
// AmqpDeferred for the broker's answer; requests are answered in order.
//
// A channel is usable while it is neither closing nor closed. The broker
// closing it (a refused request, a deleted queue's exclusive consumer...)
// fails every pending request and calls the error handler with the broker's
// text; so does the loss of the connection. Destroying the handle closes the
// channel on the broker and drops its handlers (pending requests fail as
// abandoned).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "amqp/amqp_deferred.h"
#include "amqp/amqp_message.h"

class AmqpConnection;
class AmqpChannelCore;

class AmqpChannel {
 public:
  explicit AmqpChannel(AmqpConnection* connection);
  ~AmqpChannel();
  AmqpChannel(const AmqpChannel&) = delete;
  AmqpChannel& operator=(const AmqpChannel&) = delete;

  bool usable() const;
  uint16_t id() const;

  void onError(std::function<void(const std::string&)> f);
  // Messages published with the mandatory flag that no queue took.
  void onReturned(std::function<void(const AmqpMessage&)> f);

  AmqpDeferred& declareExchange(const std::string& name, const std::string& type, bool durable);
  AmqpDeferred& declareQueue(const std::string& name, bool durable);
  AmqpDeferred& bindQueue(const std::string& exchange, const std::string& queue,
                          const std::string& routing_key);
  // onSuccess once the consumer runs, onMessage for each delivery, onCancelled
  // when the broker cancels it.
  AmqpDeferred& consume(const std::string& queue, const std::string& tag, bool no_ack);
  AmqpDeferred& cancel(const std::string& tag);
  bool hasConsumer(const std::string& tag) const;
  AmqpDeferred& startTransaction();
  AmqpDeferred& commitTransaction();
  // Publishes; false when the channel is not usable or the send failed.
  bool publish(const std::string& exchange, const std::string& routing_key,
               const AmqpMessage& envelope, bool mandatory);

 private:
  std::shared_ptr<AmqpChannelCore> core_;
};
