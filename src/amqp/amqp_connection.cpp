#include "amqp/amqp_connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>
#include <thread>

#include <fmt/format.h>

#include <amqp.h>
#include <amqp_ssl_socket.h>
#include <amqp_tcp_socket.h>

#include "amqp/amqp_bytes.h"
#include "amqp/amqp_channel_core.h"

// One connect in its own thread: the librabbitmq state with its socket, and a
// socket pair on which the thread says it is done. Shared by the thread and
// the connection; the last of the two to let go closes everything, so a
// connection that is destroyed mid-connect never waits for the thread.
struct AmqpConnectAttempt {
  amqp_connection_state_t conn = nullptr;
  int notify[2] = {-1, -1};
  std::atomic<int> result{AMQP_STATUS_OK};
  std::string error;

  ~AmqpConnectAttempt() {
    if (conn) amqp_destroy_connection(conn);
    for (int fd : notify)
      if (fd >= 0) ::close(fd);
  }
};

namespace {

constexpr uint32_t kFrameMax = 131072;

std::string status_text(int status) { return amqp_error_string2(status); }

}  // namespace

AmqpConnection::AmqpConnection(struct ev_loop* loop, AmqpConnectionHandler* handler,
                               const AmqpAddress& address, Options options)
    : loop_(loop), handler_(handler), address_(address), options_(options),
      alive_(std::make_shared<bool>(true)) {
  ev_io_init(&notify_watcher_, &AmqpConnection::notify_cb, -1, EV_READ);
  ev_io_init(&io_watcher_, &AmqpConnection::io_cb, -1, EV_READ);
  ev_timer_init(&heartbeat_timer_, &AmqpConnection::heartbeat_cb, 0, 0);
  ev_timer_init(&detach_timer_, &AmqpConnection::detach_cb, 0, 0);
  ev_timer_init(&deadline_timer_, &AmqpConnection::deadline_cb, 0, 0);
  notify_watcher_.data = io_watcher_.data = heartbeat_timer_.data = detach_timer_.data = this;
  deadline_timer_.data = this;

  auto attempt = std::make_shared<AmqpConnectAttempt>();
  attempt->conn = amqp_new_connection();
  if (!attempt->conn) throw std::runtime_error("cannot allocate an AMQP connection");
  amqp_socket_t* socket = nullptr;
  if (address_.tls) {
    socket = amqp_ssl_socket_new(attempt->conn);
    if (socket) {
      amqp_ssl_socket_set_verify_peer(socket, 0);
      amqp_ssl_socket_set_verify_hostname(socket, 0);
    }
  } else {
    socket = amqp_tcp_socket_new(attempt->conn);
  }
  if (!socket) throw std::runtime_error("cannot create the AMQP socket");
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, attempt->notify) != 0)
    throw std::runtime_error(std::string("socketpair: ") + std::strerror(errno));
  attempt_ = attempt;

  std::string host = address_.host;
  int port = address_.port;
  double timeout = options_.connect_timeout;
  std::thread([attempt, socket, host, port, timeout] {
    struct timeval tv;
    tv.tv_sec = static_cast<time_t>(timeout);
    tv.tv_usec = static_cast<suseconds_t>((timeout - static_cast<double>(tv.tv_sec)) * 1e6);
    attempt->result = amqp_socket_open_noblock(socket, host.c_str(), port, &tv);
    char byte = 1;
    // The connection may be gone already: no SIGPIPE for that.
    [[maybe_unused]] auto n = ::send(attempt->notify[1], &byte, 1, MSG_NOSIGNAL);
  }).detach();

  ev_io_set(&notify_watcher_, attempt->notify[0], EV_READ);
  ev_io_start(loop_, &notify_watcher_);
}

AmqpConnection::~AmqpConnection() {
  *alive_ = false;
  stop_watchers();
  ev_timer_stop(loop_, &detach_timer_);
  for (auto& [id, core] : channels_) {
    core->abandon("connection closed", false);
    core->connection_ = nullptr;
  }
  channels_.clear();
}

void AmqpConnection::stop_watchers() {
  ev_io_stop(loop_, &notify_watcher_);
  ev_io_stop(loop_, &io_watcher_);
  ev_timer_stop(loop_, &heartbeat_timer_);
  ev_timer_stop(loop_, &deadline_timer_);
}

void AmqpConnection::start_deadline() {
  ev_timer_stop(loop_, &deadline_timer_);
  ev_timer_set(&deadline_timer_, options_.handshake_timeout, 0);
  ev_timer_start(loop_, &deadline_timer_);
}

void AmqpConnection::deadline_cb(struct ev_loop*, ev_timer* w, int) {
  auto* self = static_cast<AmqpConnection*>(w->data);
  if (self->state_ == State::closing) {
    self->fail("connection closed (the broker did not confirm the close)", false);
    return;
  }
  self->fail(fmt::format("the broker did not open the connection within {} s of connecting",
                         self->options_.handshake_timeout));
}

void AmqpConnection::notify_cb(struct ev_loop*, ev_io* w, int) {
  static_cast<AmqpConnection*>(w->data)->on_connected();
}

void AmqpConnection::io_cb(struct ev_loop*, ev_io* w, int) {
  static_cast<AmqpConnection*>(w->data)->on_readable();
}

void AmqpConnection::heartbeat_cb(struct ev_loop*, ev_timer* w, int) {
  static_cast<AmqpConnection*>(w->data)->on_heartbeat_timer();
}

void AmqpConnection::detach_cb(struct ev_loop*, ev_timer* w, int) {
  auto* self = static_cast<AmqpConnection*>(w->data);
  // The last call: the handler may destroy this connection in it.
  self->handler_->onDetached(self);
}

void AmqpConnection::on_connected() {
  ev_io_stop(loop_, &notify_watcher_);
  int result = attempt_->result;
  if (result != AMQP_STATUS_OK) {
    fail("cannot connect to " + address_.host + ":" + std::to_string(address_.port) + ": " +
         status_text(result));
    return;
  }
  conn_ = attempt_->conn;
  state_ = State::handshake;
  int rc = amqp_send_header(conn_);
  if (rc != AMQP_STATUS_OK) {
    fail("cannot send the protocol header: " + status_text(rc));
    return;
  }
  last_traffic_ = ev_now(loop_);
  ev_io_set(&io_watcher_, amqp_get_sockfd(conn_), EV_READ);
  ev_io_start(loop_, &io_watcher_);
  start_deadline();
}

void AmqpConnection::on_readable() {
  auto alive = alive_;
  last_traffic_ = ev_now(loop_);
  // Every frame that has come in, whatever the socket layer buffered.
  for (;;) {
    amqp_frame_t frame;
    struct timeval zero = {0, 0};
    int rc = amqp_simple_wait_frame_noblock(conn_, &frame, &zero);
    if (rc == AMQP_STATUS_TIMEOUT) break;
    if (rc != AMQP_STATUS_OK) {
      fail(state_ == State::closing ? "connection closed" : "connection lost: " + status_text(rc),
           state_ != State::closing);
      return;
    }
    if (!dispatch(frame)) return;
    if (!*alive || state_ == State::closed) return;
  }
  amqp_maybe_release_buffers(conn_);
}

bool AmqpConnection::dispatch(const amqp_frame_t& frame) {
  if (frame.channel == 0) return on_connection_method(frame);
  if (state_ == State::closing) return true;  // the channels are over already
  auto it = channels_.find(frame.channel);
  if (it == channels_.end()) return true;  // a channel we no longer listen to
  auto core = it->second;
  auto alive = alive_;
  if (!core->on_frame(frame)) {
    if (*alive)
      fail("unexpected frame on channel " + std::to_string(frame.channel) + ": " + core->unexpected_);
    return false;
  }
  return *alive;
}

bool AmqpConnection::on_connection_method(const amqp_frame_t& frame) {
  if (frame.frame_type != AMQP_FRAME_METHOD) return true;
  auto alive = alive_;
  void* decoded = frame.payload.method.decoded;
  switch (frame.payload.method.id) {
    case AMQP_CONNECTION_START_METHOD: {
      amqp_table_entry_t capabilities[3];
      capabilities[0].key = amqp_cstring_bytes("consumer_cancel_notify");
      capabilities[0].value.kind = AMQP_FIELD_KIND_BOOLEAN;
      capabilities[0].value.value.boolean = 1;
      capabilities[1].key = amqp_cstring_bytes("connection.blocked");
      capabilities[1].value.kind = AMQP_FIELD_KIND_BOOLEAN;
      capabilities[1].value.value.boolean = 0;
      capabilities[2].key = amqp_cstring_bytes("exchange_exchange_bindings");
      capabilities[2].value.kind = AMQP_FIELD_KIND_BOOLEAN;
      capabilities[2].value.value.boolean = 1;
      amqp_table_entry_t props[2];
      props[0].key = amqp_cstring_bytes("product");
      props[0].value.kind = AMQP_FIELD_KIND_UTF8;
      props[0].value.value.bytes = amqp_cstring_bytes("ombrix-vm");
      props[1].key = amqp_cstring_bytes("capabilities");
      props[1].value.kind = AMQP_FIELD_KIND_TABLE;
      props[1].value.value.table.num_entries = 3;
      props[1].value.value.table.entries = capabilities;
      std::string response = std::string(1, '\0') + address_.user + std::string(1, '\0') +
                             address_.password;
      amqp_connection_start_ok_t ok{};
      ok.client_properties.num_entries = 2;
      ok.client_properties.entries = props;
      ok.mechanism = amqp_cstring_bytes("PLAIN");
      ok.response = amqp_view(response);
      ok.locale = amqp_cstring_bytes("en_US");
      return send_method(0, AMQP_CONNECTION_START_OK_METHOD, &ok);
    }
    case AMQP_CONNECTION_TUNE_METHOD: {
      auto* tune = static_cast<amqp_connection_tune_t*>(decoded);
      heartbeat_ = handler_->onNegotiate(this, tune->heartbeat);
      if (!*alive) return false;
      if (tune->channel_max) channel_max_ = tune->channel_max;
      uint32_t frame_max = tune->frame_max && tune->frame_max < kFrameMax ? tune->frame_max : kFrameMax;
      amqp_connection_tune_ok_t ok{};
      ok.channel_max = channel_max_;
      ok.frame_max = frame_max;
      ok.heartbeat = heartbeat_;
      if (!send_method(0, AMQP_CONNECTION_TUNE_OK_METHOD, &ok)) return false;
      // The codec's own heartbeat handling stays off: ours runs on the loop.
      amqp_tune_connection(conn_, channel_max_, static_cast<int>(frame_max), 0);
      if (heartbeat_ > 0) {
        double every = std::max(1.0, heartbeat_ / 2.0);
        ev_timer_set(&heartbeat_timer_, every, every);
        ev_timer_start(loop_, &heartbeat_timer_);
      }
      amqp_connection_open_t open{};
      open.virtual_host = amqp_view(address_.vhost);
      return send_method(0, AMQP_CONNECTION_OPEN_METHOD, &open);
    }
    case AMQP_CONNECTION_OPEN_OK_METHOD:
      ev_timer_stop(loop_, &deadline_timer_);
      state_ = State::ready;
      handler_->onReady(this);
      return *alive;
    case AMQP_CONNECTION_CLOSE_METHOD: {
      auto* c = static_cast<amqp_connection_close_t*>(decoded);
      std::string text = amqp_string(c->reply_text);
      amqp_connection_close_ok_t ok{};
      send_method(0, AMQP_CONNECTION_CLOSE_OK_METHOD, &ok);
      fail(text.empty() ? "connection closed by the broker" : text);
      return false;
    }
    case AMQP_CONNECTION_CLOSE_OK_METHOD:
      fail("connection closed", false);
      return false;
    default:
      return true;  // blocked/unblocked and the like
  }
}

void AmqpConnection::on_heartbeat_timer() {
  double now = ev_now(loop_);
  if (now - last_traffic_ > 1.5 * heartbeat_) {
    // The loop may have been held up while the broker's frames waited in the
    // socket or in the library's buffer: those count as traffic.
    pollfd p{amqp_get_sockfd(conn_), POLLIN, 0};
    if (!amqp_data_in_buffer(conn_) && !amqp_frames_enqueued(conn_) && ::poll(&p, 1, 0) != 1) {
      fail("heartbeat timeout: nothing from the broker in " + std::to_string(heartbeat_ * 3 / 2) +
           " s");
      return;
    }
    auto alive = alive_;
    on_readable();
    if (!*alive || state_ == State::closed) return;
  }
  amqp_frame_t hb{};
  hb.frame_type = AMQP_FRAME_HEARTBEAT;
  hb.channel = 0;
  if (amqp_send_frame(conn_, &hb) != AMQP_STATUS_OK) {
    fail("connection lost while sending a heartbeat");
    return;
  }
  handler_->onHeartbeat(this);
}

bool AmqpConnection::send_method(uint16_t channel, amqp_method_number_t id, void* decoded) {
  if (!conn_ || state_ == State::closed) return false;
  amqp_frame_t f{};
  f.frame_type = AMQP_FRAME_METHOD;
  f.channel = channel;
  f.payload.method.id = id;
  f.payload.method.decoded = decoded;
  int rc = amqp_send_frame(conn_, &f);
  if (rc != AMQP_STATUS_OK) {
    fail("connection lost: " + status_text(rc));
    return false;
  }
  return true;
}

bool AmqpConnection::send_content(uint16_t channel, const amqp_basic_properties_t& properties,
                                  const std::string& body) {
  if (!conn_ || state_ == State::closed) return false;
  amqp_frame_t h{};
  h.frame_type = AMQP_FRAME_HEADER;
  h.channel = channel;
  h.payload.properties.class_id = AMQP_BASIC_CLASS;
  h.payload.properties.body_size = body.size();
  h.payload.properties.decoded = const_cast<amqp_basic_properties_t*>(&properties);
  int rc = amqp_send_frame(conn_, &h);
  size_t max = static_cast<size_t>(amqp_get_frame_max(conn_)) - 8;
  for (size_t off = 0; rc == AMQP_STATUS_OK && off < body.size(); off += max) {
    amqp_frame_t b{};
    b.frame_type = AMQP_FRAME_BODY;
    b.channel = channel;
    b.payload.body_fragment.bytes = const_cast<char*>(body.data()) + off;
    b.payload.body_fragment.len = std::min(max, body.size() - off);
    rc = amqp_send_frame(conn_, &b);
  }
  if (rc != AMQP_STATUS_OK) {
    fail("connection lost: " + status_text(rc));
    return false;
  }
  return true;
}

uint16_t AmqpConnection::next_channel_id() {
  for (int tries = 0; tries < channel_max_; ++tries) {
    last_channel_ = last_channel_ >= channel_max_ ? 1 : last_channel_ + 1;
    if (!channels_.count(last_channel_)) return last_channel_;
  }
  return 0;
}

std::shared_ptr<AmqpChannelCore> AmqpConnection::open_channel() {
  if (state_ != State::ready) return nullptr;
  uint16_t id = next_channel_id();
  if (id == 0) return nullptr;
  auto core = std::make_shared<AmqpChannelCore>(this, id);
  channels_[id] = core;
  amqp_channel_open_t open{};
  if (!send_method(id, AMQP_CHANNEL_OPEN_METHOD, &open)) return nullptr;
  return core;
}

void AmqpConnection::forget_channel(uint16_t channel) { channels_.erase(channel); }

void AmqpConnection::close(bool immediate) {
  if (state_ == State::closed) return;
  if (immediate || state_ != State::ready) {
    fail("connection closed by the client", false);
    return;
  }
  if (state_ == State::closing) return;
  amqp_connection_close_t c{};
  c.reply_code = 200;
  c.reply_text = amqp_cstring_bytes("OK");
  if (!send_method(0, AMQP_CONNECTION_CLOSE_METHOD, &c)) return;
  state_ = State::closing;
  start_deadline();
  // The channels are over from here on. The client's own close is no
  // channel error: their error handlers are not called, while a finalizer
  // still learns that its request was never answered.
  auto channels = channels_;
  for (auto& [id, core] : channels) core->abandon("connection is closing", false);
}

void AmqpConnection::fail(const std::string& message, bool report) {
  if (state_ == State::closed) return;
  auto alive = alive_;
  state_ = State::closed;
  stop_watchers();
  // The socket goes now; the thread's state (if it still connects) goes with
  // the last reference.
  conn_ = nullptr;
  attempt_.reset();
  auto channels = std::move(channels_);
  channels_.clear();
  for (auto& [id, core] : channels) {
    core->abandon(message, report);
    core->connection_ = nullptr;
    if (!*alive) return;
  }
  if (report) handler_->onError(this, message);
  if (!*alive) return;
  ev_timer_set(&detach_timer_, 0, 0);
  ev_timer_start(loop_, &detach_timer_);
}
