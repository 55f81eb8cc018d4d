#include "amqp/amqp_channel_core.h"

#include <algorithm>

#include <amqp.h>

#include "amqp/amqp_bytes.h"
#include "amqp/amqp_connection.h"

AmqpDeferred& AmqpChannelCore::settled(bool ok, const std::string& error) {
  auto d = std::make_shared<AmqpDeferred>();
  if (ok)
    d->succeed();
  else
    d->fail(error, true);
  // Kept until the next settled one, so the caller can attach its handlers.
  settled_.push_back(d);
  while (settled_.size() > 8) settled_.pop_front();
  return *d;
}

AmqpDeferred& AmqpChannelCore::request(amqp_method_number_t id, void* decoded,
                                       amqp_method_number_t reply) {
  if (!usable() || !connection_) return settled(false, "channel is not usable");
  if (!connection_->send_method(id_, id, decoded)) return settled(false, "connection is lost");
  Pending p{id, reply, std::make_shared<AmqpDeferred>(), {}, nullptr};
  if (id == AMQP_BASIC_CONSUME_METHOD)
    p.consumer_tag = amqp_string(static_cast<amqp_basic_consume_t*>(decoded)->consumer_tag);
  if (id == AMQP_BASIC_CANCEL_METHOD) {
    p.consumer_tag = amqp_string(static_cast<amqp_basic_cancel_t*>(decoded)->consumer_tag);
    auto it = consumers.find(p.consumer_tag);
    if (it != consumers.end()) {
      p.target = it->second;
    } else {
      // A consumer not confirmed yet: the cancel ends it once it is.
      for (auto& q : pending_)
        if (q.method == AMQP_BASIC_CONSUME_METHOD && q.consumer_tag == p.consumer_tag)
          p.target = q.deferred;
    }
  }
  pending_.push_back(p);
  return *p.deferred;
}

bool AmqpChannelCore::publish(amqp_basic_publish_t& method, const amqp_basic_properties_t& properties,
                              const std::string& body) {
  if (!usable() || !connection_) return false;
  if (!connection_->send_method(id_, AMQP_BASIC_PUBLISH_METHOD, &method)) return false;
  return connection_->send_content(id_, properties, body);
}

void AmqpChannelCore::fail_all(const std::string& message, bool abandoned) {
  auto pending = std::move(pending_);
  pending_.clear();
  auto running = std::move(consumers);
  consumers.clear();
  for (auto& p : pending) p.deferred->fail(message, abandoned);
  for (auto& [tag, d] : running) d->fail(message, abandoned);
}

void AmqpChannelCore::fail_closed(const std::string& message, amqp_method_number_t refused) {
  auto pending = std::move(pending_);
  pending_.clear();
  auto running = std::move(consumers);
  consumers.clear();
  bool named = false;
  for (auto& p : pending) {
    bool this_one = !named && p.method == refused;
    named = named || this_one;
    p.deferred->fail(message, !this_one);
  }
  for (auto& [tag, d] : running) d->fail(message, true);
}

void AmqpChannelCore::abandon(const std::string& message, bool report) {
  if (state_ == State::closed) return;
  state_ = State::closed;
  auto error = on_error;
  if (!report) {
    // The client's own close: nobody is told of errors, but a finalizer still
    // learns that its request was never answered.
    for (auto& p : pending_) p.deferred->onError(nullptr).onSuccess(nullptr);
    for (auto& [tag, d] : consumers) d->onError(nullptr).onSuccess(nullptr);
  }
  fail_all(message, true);
  if (report && error) error(message);
}

void AmqpChannelCore::close_by_client() {
  on_error = nullptr;
  on_returned = nullptr;
  if (usable() && connection_) {
    amqp_channel_close_t close{};
    close.reply_code = 200;
    close.reply_text = amqp_cstring_bytes("OK");
    state_ = State::closing;
    if (!connection_->send_method(id_, AMQP_CHANNEL_CLOSE_METHOD, &close)) state_ = State::closed;
  }
  auto pending = std::move(pending_);
  pending_.clear();
  consumers.clear();
  for (auto& p : pending) {
    // Nobody listens any more, except a finalizer that must learn the outcome.
    p.deferred->onError(nullptr).onSuccess(nullptr);
    p.deferred->fail("channel closed", true);
  }
  if (state_ == State::closed && connection_) connection_->forget_channel(id_);
}

void AmqpChannelCore::on_content_complete() {
  incoming_ = false;
  AmqpMessage message = std::move(message_);
  message_ = AmqpMessage{};
  if (incoming_returned_) {
    if (auto f = on_returned) f(message);
    return;
  }
  std::shared_ptr<AmqpDeferred> d;
  if (auto it = consumers.find(message.consumer_tag); it != consumers.end()) {
    d = it->second;
  } else {
    // A delivery may overtake its consumer's confirmation.
    for (auto& p : pending_)
      if (p.reply == AMQP_BASIC_CONSUME_OK_METHOD && p.consumer_tag == message.consumer_tag)
        d = p.deferred;
  }
  if (d) d->deliver(message);  // else a consumer that was just cancelled
}

bool AmqpChannelCore::on_frame(const amqp_frame_t& frame) {
  if (frame.frame_type == AMQP_FRAME_HEADER) {
    if (!incoming_ || incoming_header_) return false;
    incoming_header_ = true;
    incoming_size_ = frame.payload.properties.body_size;
    auto* p = static_cast<amqp_basic_properties_t*>(frame.payload.properties.decoded);
    if (p) {
      if (p->_flags & AMQP_BASIC_CONTENT_TYPE_FLAG) message_.content_type = amqp_string(p->content_type);
      if (p->_flags & AMQP_BASIC_CORRELATION_ID_FLAG)
        message_.correlation_id = amqp_string(p->correlation_id);
      if (p->_flags & AMQP_BASIC_REPLY_TO_FLAG) message_.reply_to = amqp_string(p->reply_to);
    }
    if (incoming_size_ == 0 && state_ != State::closing) on_content_complete();
    if (incoming_size_ == 0) incoming_ = false;
    return true;
  }
  if (frame.frame_type == AMQP_FRAME_BODY) {
    if (!incoming_ || !incoming_header_) return false;
    message_.body.append(static_cast<const char*>(frame.payload.body_fragment.bytes),
                         frame.payload.body_fragment.len);
    if (message_.body.size() > incoming_size_) return false;
    if (message_.body.size() == incoming_size_) {
      if (state_ == State::closing)
        incoming_ = false;
      else
        on_content_complete();
    }
    return true;
  }
  if (frame.frame_type != AMQP_FRAME_METHOD) return true;

  const amqp_method_number_t id = frame.payload.method.id;
  void* decoded = frame.payload.method.decoded;
  switch (id) {
    case AMQP_CHANNEL_CLOSE_METHOD: {
      auto* c = static_cast<amqp_channel_close_t*>(decoded);
      std::string text = amqp_string(c->reply_text);
      amqp_channel_close_ok_t ok{};
      connection_->send_method(id_, AMQP_CHANNEL_CLOSE_OK_METHOD, &ok);
      bool was_closing = state_ == State::closing;
      state_ = State::closed;
      auto error = on_error;
      fail_closed(text, (static_cast<amqp_method_number_t>(c->class_id) << 16) | c->method_id);
      if (!was_closing && error) error(text);
      if (connection_) connection_->forget_channel(id_);
      return true;
    }
    case AMQP_CHANNEL_CLOSE_OK_METHOD:
      state_ = State::closed;
      if (connection_) connection_->forget_channel(id_);
      return true;
    case AMQP_CHANNEL_OPEN_OK_METHOD:
      if (state_ == State::opening) state_ = State::open;
      return true;
    case AMQP_BASIC_DELIVER_METHOD:
    case AMQP_BASIC_RETURN_METHOD: {
      incoming_ = true;
      incoming_header_ = false;
      incoming_size_ = 0;
      message_ = AmqpMessage{};
      incoming_returned_ = id == AMQP_BASIC_RETURN_METHOD;
      if (id == AMQP_BASIC_DELIVER_METHOD) {
        auto* d = static_cast<amqp_basic_deliver_t*>(decoded);
        message_.consumer_tag = amqp_string(d->consumer_tag);
        message_.delivery_tag = d->delivery_tag;
        message_.exchange = amqp_string(d->exchange);
        message_.routing_key = amqp_string(d->routing_key);
      } else {
        auto* r = static_cast<amqp_basic_return_t*>(decoded);
        message_.reply_code = r->reply_code;
        message_.reply_text = amqp_string(r->reply_text);
        message_.exchange = amqp_string(r->exchange);
        message_.routing_key = amqp_string(r->routing_key);
      }
      return true;
    }
    case AMQP_BASIC_CANCEL_METHOD: {
      // The broker cancelled a consumer (its queue went away).
      auto* c = static_cast<amqp_basic_cancel_t*>(decoded);
      std::string tag = amqp_string(c->consumer_tag);
      if (!c->nowait) {
        amqp_basic_cancel_ok_t ok{};
        ok.consumer_tag = c->consumer_tag;
        connection_->send_method(id_, AMQP_BASIC_CANCEL_OK_METHOD, &ok);
      }
      auto it = consumers.find(tag);
      if (it != consumers.end()) {
        auto d = it->second;
        consumers.erase(it);
        d->cancelled(tag);
      }
      return true;
    }
    default:
      break;
  }
  if (state_ == State::closing) return true;  // answers to what the handle left behind
  // Answers come in the order of the requests, except that the broker may
  // confirm a consumer after answering later requests: a consume-ok and a
  // cancel-ok are matched by their tag, everything else by its kind.
  std::string tag;
  if (id == AMQP_BASIC_CONSUME_OK_METHOD)
    tag = amqp_string(static_cast<amqp_basic_consume_ok_t*>(decoded)->consumer_tag);
  if (id == AMQP_BASIC_CANCEL_OK_METHOD)
    tag = amqp_string(static_cast<amqp_basic_cancel_ok_t*>(decoded)->consumer_tag);
  auto match = std::find_if(pending_.begin(), pending_.end(), [&](const Pending& p) {
    if (p.reply != id) return false;
    return (id != AMQP_BASIC_CONSUME_OK_METHOD && id != AMQP_BASIC_CANCEL_OK_METHOD) ||
           p.consumer_tag == tag || p.consumer_tag.empty();
  });
  if (match == pending_.end()) {
    unexpected_ = std::string(amqp_method_name(id)) + " without a request";
    return false;
  }
  Pending p = std::move(*match);
  pending_.erase(match);
  if (id == AMQP_BASIC_CONSUME_OK_METHOD) {
    consumers[tag] = p.deferred;
  } else if (id == AMQP_BASIC_CANCEL_OK_METHOD) {
    auto it = consumers.find(p.consumer_tag);
    if (it != consumers.end() && it->second == p.target) consumers.erase(it);
  }
  p.deferred->succeed();
  return true;
}
