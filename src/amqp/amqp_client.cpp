#include "amqp/amqp_client.h"

#include <algorithm>
#include <filesystem>

#include <spdlog/spdlog.h>

#include "amqp/amqp_address.h"
#include "amqp/amqp_watcher.h"
#include "driver/config.h"
#include "platform/host_root.h"

AmqpClient::AmqpClient(std::string name, struct ev_loop* loop, AmqpMsgCallback& callback,
                       Options options)
    : name_(std::move(name)), loop_(loop), callback_(callback), options_(std::move(options)),
      cache_(make_publish_cache(options_.cache_kind)), recreate_delay_(options_.recreate_first) {
  if (!cache_) cache_ = make_publish_cache(1);
  ev_timer_init(&reconnect_timer_, &AmqpClient::reconnect_cb, 0, 0);
  ev_timer_init(&recreate_timer_, &AmqpClient::recreate_cb, 0, 0);
  ev_idle_init(&resend_idle_, &AmqpClient::resend_cb);
  // The next entry goes out as soon as the previous commit has finished, not
  // only once every record waiting on the daemon's queue has been cached:
  // caching overlaps the broker's commit instead of delaying the next one.
  ev_set_priority(&resend_idle_, EV_MAXPRI);
  reconnect_timer_.data = recreate_timer_.data = resend_idle_.data = this;
}

AmqpClient::~AmqpClient() {
  if (started_) stop();
  // No waiting for the watcher to release itself: the loop may not run any
  // more. Its connection, if any, is dropped with it.
  watcher_.reset();
  ev_timer_stop(loop_, &reconnect_timer_);
  ev_timer_stop(loop_, &recreate_timer_);
  ev_idle_stop(loop_, &resend_idle_);
}

std::string AmqpClient::cache_path() const {
  return platform::host_path("/var/db/") + name_ + "-amqp";
}

std::optional<std::string> AmqpClient::address_error(const std::string& address) {
  try {
    AmqpAddress parsed = AmqpAddress::parse(address);
    spdlog::debug("AMQP address accepted: host '{}' port {} vhost '{}'", parsed.host, parsed.port,
                  parsed.vhost);
    return std::nullopt;
  } catch (const std::exception& e) {
    return e.what();
  }
}

void AmqpClient::apply_config(const std::string& address, const std::string& exchange,
                              const std::string& event_key, const std::string& publish_queue,
                              const std::string& cmd_queue, uint32_t heartbeats) {
  address_ = address;
  exchange_ = exchange;
  event_key_ = event_key;
  publish_queue_ = publish_queue;
  cmd_queue_ = cmd_queue;
  heartbeats_ = heartbeats;
  address_usable_ = true;
  if (auto error = address_error(address)) address_unusable(*error);
  std::error_code ec;
  std::string dir = platform::host_path("/var/db/");
  if (!std::filesystem::exists(dir, ec)) std::filesystem::create_directories(dir, ec);
  auto error = cache_->open(cache_path());
  if (error)
    spdlog::error("AMQP can not open/create SQLite3 database: {}", *error);
  else
    spdlog::debug("AMQP cach db: {}", cache_path());
}

void AmqpClient::start() {
  started_ = true;
  if (!address_usable_) return;
  ev_timer_stop(loop_, &reconnect_timer_);
  ev_timer_set(&reconnect_timer_, options_.first_attempt, options_.reconnect);
  ev_timer_start(loop_, &reconnect_timer_);
}

void AmqpClient::reconnect_cb(struct ev_loop*, ev_timer* w, int) {
  static_cast<AmqpClient*>(w->data)->connect();
}

void AmqpClient::connect() {
  ev_timer_stop(loop_, &reconnect_timer_);
  spdlog::debug("AMQP client start connection");
  if (!watcher_)
    watcher_ = std::make_shared<AmqpWatcher>(*this, loop_, exchange_, event_key_, publish_queue_,
                                             cmd_queue_, heartbeats_);
  watcher_->connect(address_);
}

void AmqpClient::reload() {
  if (watcher_ && watcher_->connection_open()) {
    watcher_->disconnect(false);
    return;
  }
  if (started_ && address_usable_) {
    ev_timer_stop(loop_, &reconnect_timer_);
    ev_timer_set(&reconnect_timer_, options_.first_attempt, options_.reconnect);
    ev_timer_start(loop_, &reconnect_timer_);
  }
}

void AmqpClient::start_reconnect() {
  if (!started_ || !address_usable_) return;
  spdlog::trace("AMQP client begin waiting for reconnection");
  // "again" with the repeat value: the next attempt comes `reconnect` s later.
  reconnect_timer_.repeat = options_.reconnect;
  ev_timer_again(loop_, &reconnect_timer_);
}

void AmqpClient::stop_reconnect_timer() {
  spdlog::trace("AMQP client stoped reconnection timer");
  ev_timer_stop(loop_, &reconnect_timer_);
}

void AmqpClient::address_unusable(const std::string& text) {
  if (address_usable_)
    spdlog::critical(
        "### AMQP address is unusable: {}. Reconnection is disabled until the configuration is "
        "reloaded (SIGHUP)",
        text);
  address_usable_ = false;
  ev_timer_stop(loop_, &reconnect_timer_);
}

void AmqpClient::schedule_channel_recreation() {
  if (ev_is_active(&recreate_timer_)) return;
  spdlog::debug("AMQP channel recreation scheduled in {}s", recreate_delay_);
  ev_timer_set(&recreate_timer_, recreate_delay_, 0);
  ev_timer_start(loop_, &recreate_timer_);
  recreate_delay_ = std::min(recreate_delay_ * 2, options_.recreate_max);
}

void AmqpClient::recreate_cb(struct ev_loop*, ev_timer* w, int) {
  static_cast<AmqpClient*>(w->data)->on_recreate_timer();
}

void AmqpClient::on_recreate_timer() {
  ev_timer_stop(loop_, &recreate_timer_);
  if (watcher_) watcher_->check_channels();
}

void AmqpClient::cancel_channel_recreation() {
  ev_timer_stop(loop_, &recreate_timer_);
  recreate_delay_ = options_.recreate_first;
}

void AmqpClient::kick_resend() { ev_idle_start(loop_, &resend_idle_); }

void AmqpClient::release_watcher() { watcher_.reset(); }

void AmqpClient::publish_reply(const std::string& id, const std::string& message,
                               const std::string& reply_queue) {
  if (id.empty() || reply_queue.empty()) {
    spdlog::info("AMQP publish params error: id='{}' reply_queue='{}'", id, reply_queue);
    return;
  }
  if (auto error = cache_->push(id, message, reply_queue))
    spdlog::error("### AMQP {} publish cache: {}", id, *error);
  kick_resend();
}

void AmqpClient::resend_cb(struct ev_loop*, ev_idle* w, int) {
  static_cast<AmqpClient*>(w->data)->resend_head();
}

void AmqpClient::resend_head() {
  ev_idle_stop(loop_, &resend_idle_);
  if (!watcher_) return;
  PublishHead head = cache_->head();
  if (auto error = cache_->take_error()) spdlog::error("### AMQP publish cache: {}", *error);
  // One entry is in flight: its end (drop_head, or the next publish channel
  // after requeue_head) starts the next step. No polling meanwhile.
  if (head.busy) return;
  if (head.msgid.empty() || head.queue.empty()) return;
  if (!watcher_->send(std::move(head.msgid), std::move(head.message), std::move(head.queue)))
    cache_->release_head();
}

void AmqpClient::drop_head(const std::string& msgid) {
  uint64_t left = cache_->pop();
  if (auto error = cache_->take_error()) spdlog::error("### AMQP publish cache: {}", *error);
  spdlog::trace("AMQP {} *** {} messages left in queue", msgid, left);
  if (left > 0) kick_resend();
}

void AmqpClient::requeue_head(const std::string& msgid) {
  spdlog::warn("AMQP {} the publish channel went away before the broker answered; the message "
               "stays in the cache",
               msgid);
  cache_->release_head();
}

void AmqpClient::pool_control(const std::string& pool, const std::string& command) {
  spdlog::info("AMQP Pool '{}' control as '{}'", pool, command);
  // Without a connection nothing is consumed; the started pools' queues are
  // taken up when it is made.
  if (!watcher_) return;
  std::string queue = load_pool_config(Config::instance(), pool);
  if (queue.empty()) {
    spdlog::error("AMQP Pool ctrl: Pool not found '{}'", pool);
    return;
  }
  if (command == "start")
    watcher_->pool_start(queue, pool);
  else if (command == "stop")
    watcher_->pool_stop(queue, pool);
  else
    spdlog::warn("AMQP Pool ctrl: Unknown command '{}' for pool '{}'", command, pool);
}

void AmqpClient::stop() {
  ev_timer_stop(loop_, &reconnect_timer_);
  ev_timer_stop(loop_, &recreate_timer_);
  ev_idle_stop(loop_, &resend_idle_);
  started_ = false;
  spdlog::debug("AMQP client begin to stop");
  if (watcher_) watcher_->disconnect(true);
  spdlog::debug("AMQP client stopped");
}
