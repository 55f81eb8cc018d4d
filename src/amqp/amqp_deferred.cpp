#include "amqp/amqp_deferred.h"

AmqpDeferred& AmqpDeferred::onSuccess(Callback f) {
  success_ = std::move(f);
  if (state_ == State::succeeded && success_) success_();
  return *this;
}

AmqpDeferred& AmqpDeferred::onError(ErrorCallback f) {
  error_cb_ = std::move(f);
  if (state_ == State::failed && error_cb_) error_cb_(error_);
  return *this;
}

AmqpDeferred& AmqpDeferred::onFinalize(Callback f) {
  finalize_ = std::move(f);
  if (state_ != State::pending && finalize_) finalize_();
  return *this;
}

AmqpDeferred& AmqpDeferred::onMessage(MessageCallback f) {
  message_ = std::move(f);
  return *this;
}

AmqpDeferred& AmqpDeferred::onCancelled(CancelCallback f) {
  cancelled_ = std::move(f);
  return *this;
}

void AmqpDeferred::succeed() {
  if (state_ != State::pending) return;
  state_ = State::succeeded;
  if (success_) success_();
  finalize();
}

void AmqpDeferred::fail(const std::string& message, bool abandoned) {
  if (state_ == State::failed) return;
  // A consumer that has started can still fail later (its channel closes).
  state_ = State::failed;
  abandoned_ = abandoned;
  error_ = message;
  if (error_cb_) error_cb_(message);
  finalize();
}

void AmqpDeferred::finalize() {
  if (finalized_) return;
  finalized_ = true;
  if (finalize_) finalize_();
}

void AmqpDeferred::deliver(const AmqpMessage& message) {
  if (message_) message_(message);
}

void AmqpDeferred::cancelled(const std::string& consumer_tag) {
  if (cancelled_) cancelled_(consumer_tag);
}
