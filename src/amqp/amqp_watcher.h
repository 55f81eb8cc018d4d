// AmqpWatcher: the AMQP daemon's broker connection handler. Owns the
// connection and two channels: the consume channel (the direct exchange, the
// command queue and one queue per started pool, each bound with its own name
// and consumed without acks under the tag name + "_tag") and the publish
// channel (the publish and event queues, and every publication, one broker
// transaction per message with the mandatory flag).
//
// Made by AmqpClient on the first connection attempt and kept across
// reconnections (with the names it was made with). It calls back into the
// client for its timers, the channel-recreation back-off and the publish
// cache, and hands every consumed message to the client's AmqpMsgCallback.
// A channel error, a refused declaration, a failed or cancelled consumer
// schedule the recreation of the channels; a lost connection asks the client
// for the next attempt, or, after disconnect(true), releases the watcher.
#pragma once

#include <ev.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "amqp/amqp_channel.h"
#include "amqp/amqp_connection.h"

class AmqpClient;

class AmqpWatcher : public AmqpConnectionHandler {
 public:
  AmqpWatcher(AmqpClient& client, struct ev_loop* loop, std::string exchange, std::string event_key,
              std::string publish_queue, std::string cmd_queue, uint32_t heartbeats);
  ~AmqpWatcher() override;

  void connect(const std::string& address);
  void disconnect(bool immediate);
  // Publishes one cached entry; false when no usable publish channel exists.
  bool send(std::string msgid, std::string message, std::string queue);
  void pool_start(const std::string& queue, const std::string& pool);
  void pool_stop(const std::string& queue, const std::string& pool);
  void check_channels();

  // A connection exists and is not closed.
  bool connection_open() const { return connection_ && !connection_->closed(); }
  bool channels_usable() const;
  const std::map<std::string, std::string>& resubscribe_queues() const { return resubscribe_queues_; }
  const std::map<std::string, std::string>& consumed_queues() const { return consumed_; }

  uint16_t onNegotiate(AmqpConnection* connection, uint16_t interval) override;
  void onReady(AmqpConnection* connection) override;
  void onHeartbeat(AmqpConnection* connection) override;
  void onError(AmqpConnection* connection, const std::string& message) override;
  void onDetached(AmqpConnection* connection) override;

 private:
  void setup_consume_channel();
  void declare_cmdqueue();
  void ensure_publish_channel();
  void declare_own_queue(const std::string& name);
  void resubscribe();
  void consume(const std::string& queue, const std::string& pool);
  void forget_consumer(const std::string& queue, const std::string& pool);
  void on_consumer_cancelled(const std::string& queue, const std::string& pool,
                             const std::string& tag);
  void on_message(const AmqpMessage& message);
  bool usable(const std::unique_ptr<AmqpChannel>& channel) const {
    return channel && channel->usable();
  }

  AmqpClient& client_;
  struct ev_loop* loop_;
  std::string exchange_;
  std::string event_key_;
  std::string publish_queue_;
  std::string cmd_queue_;
  std::string returned_corr_id_;
  std::map<std::string, std::string> resubscribe_queues_;  // queue -> pool ("" for the command queue)
  // The queues consumed on the consume channel, whether the broker confirmed
  // the consumer yet or not: queue -> pool ("" for the command queue). A
  // queue is consumed once (one tag per queue; a second basic.consume with
  // it is a connection error).
  std::map<std::string, std::string> consumed_;
  int pending_binds_ = 0;
  uint32_t heartbeats_;
  bool stopping_ = false;
  std::unique_ptr<AmqpConnection> connection_;
  std::unique_ptr<AmqpChannel> consume_channel_;
  std::unique_ptr<AmqpChannel> publish_channel_;
};
