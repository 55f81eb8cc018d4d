// AmqpClient: everything the AMQP daemon needs to talk to the broker: the
// address and the configured names, the publish cache, the reconnect timer,
// the channel-recreation timer with its back-off (1 s doubling to 30 s, back
// to 1 s whenever the channels prove healthy), the resend watcher that drains
// the cache, and the connection handler AmqpWatcher.
//
// Every outgoing message is written to the cache first; only the resend step
// publishes, always the oldest entry, one broker transaction at a time, and
// the entry leaves the cache when its commit has finished. An entry whose
// publish channel went away before the broker answered stays for the next
// channel. The first connection attempt comes `first_attempt` s after start,
// each later one `reconnect` s after the loss of the connection.
//
// Used by the AMQP daemon: apply_config, start, publish_reply, pool_control,
// reload (after SIGHUP and apply_config), stop. Everything runs on one loop.
#pragma once

#include <ev.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "amqp/amqp_pool_listing.h"
#include "amqp/publish_cache.h"
#include "driver/amqp_msg_callback.h"

class AmqpWatcher;

class AmqpClient {
 public:
  struct Options {
    double first_attempt = 1.0;   // s from start (and reload) to the first attempt
    double reconnect = 5.0;       // s from a loss to the next attempt
    double recreate_first = 1.0;  // the first channel-recreation delay, s
    double recreate_max = 30.0;   // the longest one, s
    double connect_timeout = 10.0;
    // The broker opens the connection within three heartbeat periods of the
    // TCP connect, and never within less than this (also with heartbeats 0).
    double handshake_floor = 10.0;
    int cache_kind = 1;           // make_publish_cache kind
    AmqpPoolLister pools;         // the started pools, consumed on every connection
  };

  AmqpClient(std::string name, struct ev_loop* loop, AmqpMsgCallback& callback)
      : AmqpClient(std::move(name), loop, callback, Options{}) {}
  AmqpClient(std::string name, struct ev_loop* loop, AmqpMsgCallback& callback, Options options);
  ~AmqpClient();
  AmqpClient(const AmqpClient&) = delete;
  AmqpClient& operator=(const AmqpClient&) = delete;

  // The text of the address parser's refusal of `address`, or nothing when
  // the client can use it.
  static std::optional<std::string> address_error(const std::string& address);
  void apply_config(const std::string& address, const std::string& exchange,
                    const std::string& event_key, const std::string& publish_queue,
                    const std::string& cmd_queue, uint32_t heartbeats);
  void start();
  void publish_reply(const std::string& id, const std::string& message,
                     const std::string& reply_queue);
  void pool_control(const std::string& pool, const std::string& command);
  void reload();
  void stop();

  // Called by the watcher.
  void start_reconnect();
  void stop_reconnect_timer();
  void schedule_channel_recreation();
  void drop_head(const std::string& msgid);
  void requeue_head(const std::string& msgid);
  void address_unusable(const std::string& text);
  void kick_resend();
  void reset_delay() { recreate_delay_ = options_.recreate_first; }
  void cancel_channel_recreation();
  void release_watcher();
  void on_message(const std::string& body, const std::string& correlation_id,
                  const std::string& reply_to) {
    callback_.on_message(body, correlation_id, reply_to);
  }
  void on_event(const std::string& pool, bool started) { callback_.on_event(pool, started); }

  const Options& options() const { return options_; }
  bool started() const { return started_; }
  bool address_usable() const { return address_usable_; }
  double recreate_delay() const { return recreate_delay_; }
  AmqpWatcher* watcher() const { return watcher_.get(); }
  AmqpPublishCache& cache() { return *cache_; }
  // The cache's base path: "/var/db/" + name + "-amqp" under the host root.
  std::string cache_path() const;

 private:
  static void reconnect_cb(struct ev_loop*, ev_timer* w, int);
  static void recreate_cb(struct ev_loop*, ev_timer* w, int);
  static void resend_cb(struct ev_loop*, ev_idle* w, int);
  void connect();
  void on_recreate_timer();
  void resend_head();

  std::string name_;
  struct ev_loop* loop_;
  AmqpMsgCallback& callback_;
  Options options_;
  std::unique_ptr<AmqpPublishCache> cache_;
  std::string address_;
  std::string exchange_;
  std::string event_key_;
  std::string publish_queue_;
  std::string cmd_queue_;
  uint32_t heartbeats_ = 10;
  bool started_ = false;
  bool address_usable_ = true;
  ev_timer reconnect_timer_{};
  ev_timer recreate_timer_{};
  double recreate_delay_;
  ev_idle resend_idle_{};
  std::shared_ptr<AmqpWatcher> watcher_;
};
