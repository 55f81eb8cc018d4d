// AmqpChannelCore: the state of one open channel inside its connection: the
// requests awaiting the broker's answer (answered in order), the consumers by
// tag, and the message being assembled from its frames. Owned by the
// connection (which routes frames to it) and by the AmqpChannel handle.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <amqp.h>

#include "amqp/amqp_deferred.h"
#include "amqp/amqp_message.h"

class AmqpConnection;

class AmqpChannelCore {
 public:
  enum class State { opening, open, closing, closed };

  AmqpChannelCore(AmqpConnection* connection, uint16_t id) : connection_(connection), id_(id) {}

  uint16_t id() const { return id_; }
  State state() const { return state_; }
  bool usable() const { return state_ == State::opening || state_ == State::open; }

  // Sends a request and queues its deferred for the answer `reply`; a failed
  // send or an unusable channel gives a failed deferred.
  AmqpDeferred& request(amqp_method_number_t id, void* decoded, amqp_method_number_t reply);
  // A deferred that is already settled.
  AmqpDeferred& settled(bool ok, const std::string& error);
  bool publish(amqp_basic_publish_t& method, const amqp_basic_properties_t& properties,
               const std::string& body);

  // A frame for this channel; false when the connection must fail.
  bool on_frame(const amqp_frame_t& frame);
  // The connection went away (or the handle closed the channel): every pending
  // request and consumer fails as abandoned; the error handler hears `message`
  // when `report`.
  void abandon(const std::string& message, bool report);
  // The handle goes: sends channel.close and forgets every handler.
  void close_by_client();

  std::function<void(const std::string&)> on_error;
  std::function<void(const AmqpMessage&)> on_returned;
  bool tx_selected = false;
  std::string unexpected_;  // why the last frame was refused
  // The running consumers by tag.
  std::map<std::string, std::shared_ptr<AmqpDeferred>> consumers;
  AmqpConnection* connection_;

 private:
  struct Pending {
    amqp_method_number_t method;  // the request
    amqp_method_number_t reply;
    std::shared_ptr<AmqpDeferred> deferred;
    std::string consumer_tag;             // basic.consume / basic.cancel
    std::shared_ptr<AmqpDeferred> target;  // basic.cancel: the consumer it ends
  };
  void fail_all(const std::string& message, bool abandoned);
  // The broker closed the channel over `refused` (its class and method): the
  // first pending request of that kind fails as refused, every other one as
  // abandoned (the broker never answered it).
  void fail_closed(const std::string& message, amqp_method_number_t refused);
  void on_content_complete();

  uint16_t id_;
  State state_ = State::opening;
  std::deque<Pending> pending_;
  std::deque<std::shared_ptr<AmqpDeferred>> settled_;
  // The message being assembled: a basic.deliver or basic.return, then its
  // header, then its body frames.
  bool incoming_ = false;
  bool incoming_returned_ = false;
  uint64_t incoming_size_ = 0;
  bool incoming_header_ = false;
  AmqpMessage message_;

  friend class AmqpChannel;
};
