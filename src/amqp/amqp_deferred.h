// AmqpDeferred: the pending result of one request on a channel (a declare, a
// bind, a consume, a cancel, a transaction step). The caller attaches its
// handlers right after the request; a result that is already known when a
// handler is attached is delivered to it at once.
//
//   onSuccess   the broker confirmed the request
//   onError     it failed: the broker refused it (closing the channel), or the
//               channel or connection went away first (`abandoned()` is then
//               true: the broker never answered)
//   onFinalize  after either of them
// Consumers also have onMessage (each delivery) and onCancelled (the broker
// cancelled the consumer, e.g. because its queue was deleted).
#pragma once

#include <functional>
#include <string>

#include "amqp/amqp_message.h"

class AmqpDeferred {
 public:
  using Callback = std::function<void()>;
  using ErrorCallback = std::function<void(const std::string&)>;
  using MessageCallback = std::function<void(const AmqpMessage&)>;
  using CancelCallback = std::function<void(const std::string& consumer_tag)>;

  AmqpDeferred& onSuccess(Callback f);
  AmqpDeferred& onError(ErrorCallback f);
  AmqpDeferred& onFinalize(Callback f);
  AmqpDeferred& onMessage(MessageCallback f);
  AmqpDeferred& onCancelled(CancelCallback f);

  bool settled() const { return state_ != State::pending; }
  bool failed() const { return state_ == State::failed; }
  bool abandoned() const { return abandoned_; }

  // Used by the channel.
  void succeed();
  void fail(const std::string& message, bool abandoned);
  void deliver(const AmqpMessage& message);
  void cancelled(const std::string& consumer_tag);

 private:
  enum class State { pending, succeeded, failed };
  void finalize();

  State state_ = State::pending;
  bool abandoned_ = false;
  bool finalized_ = false;
  std::string error_;
  Callback success_;
  ErrorCallback error_cb_;
  Callback finalize_;
  MessageCallback message_;
  CancelCallback cancelled_;
};
