// AmqpConnection: one asynchronous AMQP 0-9-1 connection, driven by a libev
// loop, on librabbitmq's frame codec and sockets.
//
// Made with the loop, its handler and the broker address. The TCP connect (and
// the TLS handshake of "amqps://") runs in a short-lived thread of its own so
// that a slow or unreachable host never stalls the loop; everything else runs
// on the loop: an io watcher drains every frame buffered on the socket, the
// login and tuning are answered frame by frame, and the heartbeats are our own
// (one every half interval, the connection is dead after 1.5 intervals without
// a byte from the broker). The handler hears, in order:
//
//   onNegotiate(interval)  the broker's heartbeat proposal; its answer (0 for
//                          none) is the interval used
//   onReady                the connection is open; channels may be made
//   onHeartbeat            a heartbeat frame was sent
//   onError(text)          the connection failed (refused login, lost
//                          socket, broker close, missed heartbeats)
//   onDetached             the connection is over, after an error or a close;
//                          always the last call, made from the loop (never
//                          from inside a call of the owner)
//
// Once TCP is up, the broker has `handshake_timeout` s to open the connection
// (a peer that accepts and never speaks fails it); the orderly close has as
// long for the broker's close-ok.
//
// close(false) runs the orderly close handshake; close(true) drops the socket
// at once. Channels (AmqpChannel) are made on a ready connection.
#pragma once

#include <ev.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include <amqp.h>

#include "amqp/amqp_address.h"

class AmqpConnection;
class AmqpChannelCore;
struct AmqpConnectAttempt;

class AmqpConnectionHandler {
 public:
  virtual ~AmqpConnectionHandler() = default;
  virtual uint16_t onNegotiate(AmqpConnection* connection, uint16_t interval) { return interval; }
  virtual void onReady(AmqpConnection* connection) {}
  virtual void onHeartbeat(AmqpConnection* connection) {}
  virtual void onError(AmqpConnection* connection, const std::string& message) {}
  virtual void onDetached(AmqpConnection* connection) {}
};

class AmqpConnection {
 public:
  struct Options {
    double connect_timeout = 10;  // s, for the TCP connect and TLS handshake
    double handshake_timeout = 30;  // s, from the TCP connect to connection.open-ok
  };

  AmqpConnection(struct ev_loop* loop, AmqpConnectionHandler* handler, const AmqpAddress& address)
      : AmqpConnection(loop, handler, address, Options{}) {}
  AmqpConnection(struct ev_loop* loop, AmqpConnectionHandler* handler, const AmqpAddress& address,
                 Options options);
  ~AmqpConnection();
  AmqpConnection(const AmqpConnection&) = delete;
  AmqpConnection& operator=(const AmqpConnection&) = delete;

  void close(bool immediate = false);

  bool ready() const { return state_ == State::ready; }
  bool closing() const { return state_ == State::closing; }
  bool closed() const { return state_ == State::closed; }
  // Neither closing nor closed.
  bool usable() const { return state_ != State::closing && state_ != State::closed; }
  uint16_t heartbeat_interval() const { return heartbeat_; }

  // Used by the channels.
  std::shared_ptr<AmqpChannelCore> open_channel();
  bool send_method(uint16_t channel, amqp_method_number_t id, void* decoded);
  bool send_content(uint16_t channel, const amqp_basic_properties_t& properties,
                    const std::string& body);
  void forget_channel(uint16_t channel);

 private:
  enum class State { connecting, handshake, ready, closing, closed };

  static void notify_cb(struct ev_loop*, ev_io* w, int);
  static void io_cb(struct ev_loop*, ev_io* w, int);
  static void heartbeat_cb(struct ev_loop*, ev_timer* w, int);
  static void detach_cb(struct ev_loop*, ev_timer* w, int);
  static void deadline_cb(struct ev_loop*, ev_timer* w, int);

  void on_connected();
  void on_readable();
  bool dispatch(const amqp_frame_t& frame);
  bool on_connection_method(const amqp_frame_t& frame);
  void on_heartbeat_timer();
  void fail(const std::string& message, bool report = true);
  void finish();
  void stop_watchers();
  void start_deadline();
  uint16_t next_channel_id();

  struct ev_loop* loop_;
  AmqpConnectionHandler* handler_;
  AmqpAddress address_;
  Options options_;
  State state_ = State::connecting;
  std::shared_ptr<AmqpConnectAttempt> attempt_;
  amqp_connection_state_t conn_ = nullptr;  // the attempt's, once connected
  uint16_t heartbeat_ = 0;
  uint16_t channel_max_ = 2047;
  uint16_t last_channel_ = 0;
  ev_tstamp last_traffic_ = 0;
  ev_io notify_watcher_{};
  ev_io io_watcher_{};
  ev_timer heartbeat_timer_{};
  ev_timer detach_timer_{};
  ev_timer deadline_timer_{};  // the handshake's, then the orderly close's
  std::map<uint16_t, std::shared_ptr<AmqpChannelCore>> channels_;
  std::shared_ptr<bool> alive_;
};
