// What the AMQP benchmark and durability run share: a private broker (or one
// named by --port), a host root with a configuration for the AMQP daemon, the
// AMQP daemon itself in a forked child, records sent to its queue, and a plain
// librabbitmq client to look at the broker's queues.
#pragma once

#include <mqueue.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include <amqp.h>
#include <amqp_tcp_socket.h>

#include "app/amqp_daemon.h"
#include "driver/config.h"
#include "driver/logger.h"
#include "ipc/mq_send.h"
#include "platform/host_root.h"

namespace amqp_bench {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

inline int run(const std::string& command) { return std::system(command.c_str()); }

// A broker for the run: the one on `port`, or a private one started here
// (tests/amqp/broker.sh) and stopped when the object goes.
class Broker {
 public:
  explicit Broker(int port) : port_(port) {
    if (port_ > 0) return;
    char dir[] = "/tmp/ombrix-bench-broker-XXXXXX";
    if (!::mkdtemp(dir)) throw std::runtime_error("mkdtemp");
    dir_ = dir;
    if (run(script() + " start " + dir_) != 0) throw std::runtime_error("the broker did not start");
    std::ifstream(dir_ + "/port") >> port_;
  }
  Broker(int port, std::string dir) : port_(port), dir_(std::move(dir)), own_(false) {}
  ~Broker() {
    if (!own_ || dir_.empty()) return;
    run(script() + " stop " + dir_ + " >/dev/null 2>&1");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  int port() const { return port_; }
  const std::string& dir() const { return dir_; }
  // "pause", "resume" or "restart".
  bool control(const std::string& what) { return run(script() + " " + what + " " + dir_) == 0; }

 private:
  static std::string script() { return OMBRIX_SOURCE_DIR "/tests/amqp/broker.sh"; }
  int port_;
  std::string dir_;
  bool own_ = true;
};

// A host root with the configuration of the AMQP daemon; the process's root.
class Root {
 public:
  Root(int port, const std::string& prefix) {
    char dir[] = "/tmp/ombrix-bench-root-XXXXXX";
    if (!::mkdtemp(dir)) throw std::runtime_error("mkdtemp");
    dir_ = dir;
    std::filesystem::create_directories(dir_ + "/usr/local/etc");
    std::filesystem::create_directories(dir_ + "/var/db");
    std::filesystem::create_directories(dir_ + "/pools");
    std::ofstream(dir_ + "/usr/local/etc/ombrix-vm.config")
        << "[LOG]\nlevel = warn\n[AMQP]\nHost = 127.0.0.1\nUser = guest\nPassword = guest\nPort = "
        << port << "\nExchange = " << prefix << ".ex\nEventKey = " << prefix
        << ".ev\nPublishQueue = " << prefix << ".pub\nCmdQueue = " << prefix
        << ".cmd\nHeartbeats = 5\n[RUN]\nMqMaxMsgSizeKb = 8\n";
    ::setenv("OMBRIX_ROOT", dir_.c_str(), 1);
    platform::reload_host_root_for_tests();
    Config::instance().load();
    publish_queue_ = prefix + ".pub";
  }
  ~Root() {
    for (const char* q : {"/ombrix-vm-amqp.mq", "/ombrix-vm.mq"}) ::mq_unlink(platform::ipc_name(q).c_str());
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& dir() const { return dir_; }
  const std::string& publish_queue() const { return publish_queue_; }

 private:
  std::string dir_;
  std::string publish_queue_;
};

// The AMQP daemon in a forked child, with the given cache kind.
class AmqpDaemonChild {
 public:
  explicit AmqpDaemonChild(int cache_kind) : cache_kind_(cache_kind) { start(); }
  ~AmqpDaemonChild() { kill(SIGKILL); }
  void start() {
    pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
      set_log_level("warn");
      AmqpClient::Options o;
      o.first_attempt = 0.05;
      o.reconnect = 0.5;
      o.cache_kind = cache_kind_;
      o.pools = [] { return AmqpPoolListing{}; };
      AmqpDaemon daemon;
      daemon.set_client_options(o);
      ::_exit(daemon.run_as_child_of(parent));
    }
  }
  void kill(int signal) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }

 private:
  int cache_kind_;
  pid_t pid_ = 0;
};

// Sends one record to the AMQP daemon's queue, trying again while the queue
// is missing or full (a daemon that is down or busy).
inline void send_record(const std::string& corrid, const std::string& queue, const std::string& body) {
  for (;;) {
    std::string error = mq_send_to_amqp(corrid, queue, body, "");
    if (error.empty()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// A plain blocking librabbitmq connection (never inside a loop).
class PlainClient {
 public:
  explicit PlainClient(int port) {
    conn_ = amqp_new_connection();
    amqp_socket_t* s = amqp_tcp_socket_new(conn_);
    if (amqp_socket_open(s, "127.0.0.1", port) != AMQP_STATUS_OK) throw std::runtime_error("connect");
    amqp_rpc_reply_t r = amqp_login(conn_, "/", 0, 131072, 0, AMQP_SASL_METHOD_PLAIN, "guest", "guest");
    if (r.reply_type != AMQP_RESPONSE_NORMAL) throw std::runtime_error("login");
    amqp_channel_open(conn_, 1);
  }
  ~PlainClient() {
    amqp_channel_close(conn_, 1, AMQP_REPLY_SUCCESS);
    amqp_connection_close(conn_, AMQP_REPLY_SUCCESS);
    amqp_destroy_connection(conn_);
  }
  // Declares the durable queue; its message count.
  long count(const std::string& queue) {
    amqp_queue_declare_ok_t* ok = amqp_queue_declare(conn_, 1, amqp_cstring_bytes(queue.c_str()), 0, 1,
                                                     0, 0, amqp_empty_table);
    if (!ok) throw std::runtime_error("queue.declare");
    return ok->message_count;
  }
  void purge(const std::string& queue) {
    amqp_queue_purge(conn_, 1, amqp_cstring_bytes(queue.c_str()));
  }
  void remove(const std::string& queue) {
    amqp_queue_delete(conn_, 1, amqp_cstring_bytes(queue.c_str()), 0, 0);
  }
  amqp_connection_state_t get() { return conn_; }

 private:
  amqp_connection_state_t conn_;
};

inline long count_or(int port, const std::string& queue, long fallback) {
  try {
    PlainClient c(port);
    return c.count(queue);
  } catch (const std::exception&) {
    return fallback;
  }
}

}  // namespace amqp_bench
