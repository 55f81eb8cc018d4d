#include "amqp/amqp_watcher.h"

#include <algorithm>
#include <exception>

#include <spdlog/spdlog.h>

#include "amqp/amqp_address.h"
#include "amqp/amqp_client.h"
#include "driver/config.h"

AmqpWatcher::AmqpWatcher(AmqpClient& client, struct ev_loop* loop, std::string exchange,
                         std::string event_key, std::string publish_queue, std::string cmd_queue,
                         uint32_t heartbeats)
    : client_(client), loop_(loop), exchange_(std::move(exchange)),
      event_key_(std::move(event_key)), publish_queue_(std::move(publish_queue)),
      cmd_queue_(std::move(cmd_queue)), heartbeats_(heartbeats) {}

AmqpWatcher::~AmqpWatcher() {
  // The channels first: what they still hold in flight is settled while the
  // rest of the watcher is intact.
  publish_channel_.reset();
  consume_channel_.reset();
  connection_.reset();
}

bool AmqpWatcher::channels_usable() const {
  return usable(consume_channel_) && usable(publish_channel_);
}

void AmqpWatcher::connect(const std::string& address) {
  if (connection_) {
    if (!connection_->closed()) {
      disconnect(false);
      return;
    }
    connection_.reset();
  }
  AmqpAddress parsed;
  try {
    parsed = AmqpAddress::parse(address);
  } catch (const std::exception& e) {
    client_.address_unusable(e.what());
    return;
  } catch (...) {
    client_.address_unusable("unknown exception");
    return;
  }
  AmqpConnection::Options options;
  options.connect_timeout = client_.options().connect_timeout;
  options.handshake_timeout = std::max(client_.options().handshake_floor, 3.0 * heartbeats_);
  try {
    connection_ = std::make_unique<AmqpConnection>(loop_, this, parsed, options);
  } catch (const std::exception& e) {
    spdlog::error("AMQP connection setup error: {}", e.what());
    client_.start_reconnect();
  }
}

void AmqpWatcher::disconnect(bool immediate) {
  stopping_ = immediate;
  if (connection_) connection_->close(immediate);
  spdlog::debug("AMQP client disconnected");
}

uint16_t AmqpWatcher::onNegotiate(AmqpConnection*, uint16_t) {
  spdlog::trace("AMQP::onNegotiate {}", heartbeats_);
  return static_cast<uint16_t>(2 * heartbeats_);
}

void AmqpWatcher::onReady(AmqpConnection*) {
  client_.stop_reconnect_timer();
  client_.cancel_channel_recreation();
  spdlog::trace("AMQP client ready");
  setup_consume_channel();
}

void AmqpWatcher::onHeartbeat(AmqpConnection*) {}

void AmqpWatcher::onError(AmqpConnection*, const std::string& message) {
  if (!stopping_) spdlog::error("AMQP client error: {}", message);
}

void AmqpWatcher::onDetached(AmqpConnection*) {
  consume_channel_.reset();
  publish_channel_.reset();
  resubscribe_queues_.clear();
  consumed_.clear();
  client_.cancel_channel_recreation();
  spdlog::trace("AMQP client onDetached()");
  if (stopping_) {
    spdlog::trace("AMQP::onDetached() client destroyed");
    client_.release_watcher();  // this watcher is gone after this call
    return;
  }
  spdlog::trace("AMQP::onDetached() start_reconnect()");
  client_.start_reconnect();
}

void AmqpWatcher::setup_consume_channel() {
  try {
    consume_channel_.reset();
    consumed_.clear();
    consume_channel_ = std::make_unique<AmqpChannel>(connection_.get());
    consume_channel_->onError([this](const std::string& message) {
      spdlog::error("AMQP consume channel error: {}", message);
      client_.schedule_channel_recreation();
    });
    consume_channel_->declareExchange(exchange_, "direct", true)
        .onSuccess([this] {
          spdlog::info("Exchange successfully declared: '{}'", exchange_);
          ensure_publish_channel();
        })
        .onError([](const std::string& message) {
          spdlog::error("Declare exchange error '{}'", message);
        });
    declare_cmdqueue();
    AmqpPoolListing listing;
    if (client_.options().pools) listing = client_.options().pools();
    for (const auto& [pool, error] : listing.errors)
      spdlog::warn("### Pool '{}' state directory is not readable: {}; its queue is not consumed",
                   pool, error);
    for (const auto& pool : listing.pools) {
      std::string queue = load_pool_config(Config::instance(), pool);
      if (queue.empty()) continue;
      spdlog::debug("Pool '{}' Queue configure consumer: '{}'", pool, queue);
      pool_start(queue, pool);
    }
  } catch (const std::exception& e) {
    spdlog::error("AMQP consume channel create error: {}", e.what());
    client_.schedule_channel_recreation();
  }
}

void AmqpWatcher::declare_cmdqueue() {
  // Without the command queue's consumer no request is taken: the channels
  // are made again.
  auto unusable = [this] {
    spdlog::error("AMQP::declare_cmdqueue() No usable consume channel.");
    client_.schedule_channel_recreation();
  };
  if (!usable(consume_channel_)) return unusable();
  consume_channel_->declareQueue(cmd_queue_, true)
      .onSuccess([this, unusable] {
        spdlog::info("Queue    successfully declared: '{}'", cmd_queue_);
        if (!usable(consume_channel_)) return unusable();
        consume_channel_->bindQueue(exchange_, cmd_queue_, cmd_queue_)
            .onSuccess([this] {
              spdlog::debug("Queue '{}' successfully bound to '{}'", cmd_queue_, exchange_);
            })
            .onError([](const std::string& message) { spdlog::error("Binding error: {}", message); });
        consume(cmd_queue_, "");
      })
      .onError([this](const std::string& message) {
        spdlog::warn("Queue declaration error: {}", message);
        client_.schedule_channel_recreation();
      });
}

void AmqpWatcher::pool_start(const std::string& queue, const std::string& pool) {
  if (!usable(consume_channel_)) {
    spdlog::error("AMQP::pool_start() No usable consume channel.");
    return;
  }
  consume_channel_->declareQueue(queue, true)
      .onSuccess([this, queue, pool] {
        spdlog::info("Queue    successfully declared: '{}'", queue);
        if (!usable(consume_channel_)) return;
        consume_channel_->bindQueue(exchange_, queue, queue)
            .onSuccess([this, queue] {
              spdlog::debug("Queue '{}' successfully bound to '{}'", queue, exchange_);
            })
            .onError([](const std::string& message) {
              spdlog::error("AMQP::pool_start() Binding error: {}", message);
            });
        consume(queue, pool);
      })
      .onError([this](const std::string& message) {
        spdlog::error("AMQP::pool_start() Queue declaration error: {}", message);
        client_.schedule_channel_recreation();
      });
}

void AmqpWatcher::consume(const std::string& queue, const std::string& pool) {
  const std::string tag = queue + "_tag";
  const bool command_queue = pool.empty();
  auto owner = consumed_.find(queue);
  if (owner != consumed_.end() && owner->second != pool) {
    spdlog::error("### Queue '{}' of pool '{}' is consumed already as {}; it is not consumed again",
                  queue, pool,
                  owner->second.empty() ? "the command queue" : "the queue of pool '" + owner->second + "'");
    resubscribe_queues_.erase(queue);
    return;
  }
  // A repeated start replaces the earlier consumer, confirmed or not.
  if (owner != consumed_.end() || consume_channel_->hasConsumer(tag)) consume_channel_->cancel(tag);
  consumed_[queue] = pool;
  consume_channel_->consume(queue, tag, true)
      .onSuccess([this, queue, pool, tag, command_queue] {
        resubscribe_queues_.erase(queue);
        if (channels_usable()) client_.reset_delay();
        if (command_queue) {
          spdlog::debug("Consume success. Tag: '{}'", tag);
          return;
        }
        spdlog::debug("Consume success. Pool: {} Tag: '{}'", pool, tag);
        client_.on_event(pool, true);
      })
      .onMessage([this](const AmqpMessage& message) { on_message(message); })
      .onCancelled([this, queue, pool](const std::string& tag) {
        on_consumer_cancelled(queue, pool, tag);
      })
      .onError([this, queue, pool, command_queue](const std::string& message) {
        forget_consumer(queue, pool);
        if (command_queue)
          spdlog::error("Consume error '{}'", message);
        else
          spdlog::error("AMQP::pool_start() Consume error '{}'", message);
        client_.schedule_channel_recreation();
      });
}

void AmqpWatcher::on_message(const AmqpMessage& message) {
  spdlog::trace("CorrID: {}; Routing key: {}; Message:\n{}", message.correlation_id,
                message.routing_key, message.body);
  client_.on_message(message.body, message.correlation_id, message.reply_to);
}

void AmqpWatcher::on_consumer_cancelled(const std::string& queue, const std::string& pool,
                                        const std::string& tag) {
  spdlog::error("AMQP consumer cancelled by broker: queue '{}' tag '{}'", queue, tag);
  forget_consumer(queue, pool);
  if (!pool.empty() || queue == cmd_queue_) resubscribe_queues_[queue] = pool;
  client_.schedule_channel_recreation();
}

void AmqpWatcher::forget_consumer(const std::string& queue, const std::string& pool) {
  auto owner = consumed_.find(queue);
  if (owner != consumed_.end() && owner->second == pool) consumed_.erase(owner);
}

void AmqpWatcher::pool_stop(const std::string& queue, const std::string& pool) {
  if (!usable(consume_channel_)) {
    spdlog::error("AMQP::pool_stop() No usable consume channel.");
    return;
  }
  auto owner = consumed_.find(queue);
  if (owner != consumed_.end() && owner->second != pool) {
    // Another pool's (or the command queue's) consumer: it goes on.
    spdlog::error("### AMQP::pool_stop() Queue '{}' is consumed as {}, not for pool '{}'; it goes on",
                  queue,
                  owner->second.empty() ? "the command queue" : "the queue of pool '" + owner->second + "'",
                  pool);
    return;
  }
  if (owner != consumed_.end()) consumed_.erase(owner);
  resubscribe_queues_.erase(queue);
  const std::string tag = queue + "_tag";
  consume_channel_->cancel(tag)
      .onSuccess([this, queue, tag] {
        spdlog::debug("AMQP::pool_stop() Consumption canceled successfully. Tag: '{}'", tag);
        resubscribe_queues_.erase(queue);
      })
      .onError([this, queue](const std::string& message) {
        spdlog::debug("AMQP::pool_stop() Consumption canceled error '{}'", message);
        resubscribe_queues_.erase(queue);
      });
}

void AmqpWatcher::ensure_publish_channel() {
  if (usable(publish_channel_)) {
    if (usable(consume_channel_)) client_.reset_delay();
    client_.kick_resend();
    return;
  }
  try {
    publish_channel_.reset();
    publish_channel_ = std::make_unique<AmqpChannel>(connection_.get());
    publish_channel_->onError([this](const std::string& message) {
      spdlog::error("AMQP publish channel error: {}", message);
      client_.schedule_channel_recreation();
    });
    pending_binds_ = 0;
    declare_own_queue(publish_queue_);
    declare_own_queue(event_key_);
    publish_channel_->onReturned([this](const AmqpMessage& message) {
      returned_corr_id_ = message.correlation_id;
      spdlog::warn("AMQP {} Message was not delivered: no queue '{}' ({} {})",
                   message.correlation_id, message.routing_key, message.reply_code,
                   message.reply_text);
    });
    spdlog::info("AMQP publish channel created");
    if (pending_binds_ == 0) client_.kick_resend();
  } catch (const std::exception& e) {
    spdlog::error("AMQP publish channel create error: {}", e.what());
    client_.schedule_channel_recreation();
  }
}

void AmqpWatcher::declare_own_queue(const std::string& name) {
  if (name.empty()) return;  // nothing configured: no server-named queue instead
  publish_channel_->declareQueue(name, true)
      .onSuccess([name] { spdlog::info("Queue    successfully declared: '{}'", name); })
      .onError([](const std::string& message) { spdlog::warn("Queue declaration error: {}", message); });
  ++pending_binds_;
  publish_channel_->bindQueue(exchange_, name, name)
      .onSuccess([this, name] {
        spdlog::debug("Queue '{}' successfully bound to '{}'", name, exchange_);
        if (pending_binds_ > 0 && --pending_binds_ == 0) {
          if (channels_usable()) client_.reset_delay();
          client_.kick_resend();
        }
      })
      .onError([name](const std::string& message) {
        spdlog::error("Binding error: '{}' {}", name, message);
      });
}

bool AmqpWatcher::send(std::string msgid, std::string message, std::string queue) {
  spdlog::trace("CorrID: {}; AMQP::Sending reply; Message:\n{}", msgid, message);
  if (!usable(publish_channel_)) {
    spdlog::error("AMQP::send() No usable publish channel.");
    return false;
  }
  if (pending_binds_ > 0) {
    // Its queues first: a refused declaration closes the channel, and what
    // was published on it would be lost with the transaction.
    spdlog::debug("AMQP::send() the publish channel's queues are not bound yet.");
    return false;
  }
  const std::string& exchange =
      (queue == event_key_ || queue == publish_queue_) ? exchange_ : std::string();
  AmqpMessage envelope;
  envelope.body = std::move(message);
  envelope.content_type = "application/json";
  envelope.correlation_id = msgid;
  publish_channel_->startTransaction();
  if (!publish_channel_->publish(exchange, queue, envelope, true)) return false;
  AmqpDeferred& commit = publish_channel_->commitTransaction();
  commit
      .onSuccess([this, msgid, queue] {
        if (channels_usable()) client_.reset_delay();
        if (msgid != returned_corr_id_)
          spdlog::debug("AMQP {} Message was successfully delivered '{}'", msgid, queue);
      })
      .onError([&commit, msgid, queue](const std::string& message) {
        if (!commit.abandoned())
          spdlog::error("AMQP {} Message delivery error: '{}'  {}", msgid, queue, message);
      })
      .onFinalize([this, &commit, msgid] {
        returned_corr_id_.clear();
        // A publication whose channel went away before the broker answered
        // stays in the cache and goes out again on the next channel.
        if (commit.abandoned())
          client_.requeue_head(msgid);
        else
          client_.drop_head(msgid);
      });
  return true;
}

void AmqpWatcher::check_channels() {
  if (!connection_ || !connection_->ready()) return;
  if (usable(consume_channel_)) {
    resubscribe();
    ensure_publish_channel();
    return;
  }
  resubscribe_queues_.clear();
  consume_channel_.reset();
  setup_consume_channel();
}

void AmqpWatcher::resubscribe() {
  auto queues = resubscribe_queues_;
  for (const auto& [queue, pool] : queues) {
    spdlog::info("AMQP resubscribing to queue '{}'", queue);
    if (!pool.empty())
      pool_start(queue, pool);
    else
      declare_cmdqueue();
  }
}
