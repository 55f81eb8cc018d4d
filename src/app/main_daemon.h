// The daemon "Ombrix QTR (daemon)": reads the command queue "/ombrix-vm.mq"
// and keeps the AMQP daemon running as its child, restarting it with a
// back-off when it fails.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <deque>
#include <memory>
#include <string>

#include "app/amqp_daemon.h"
#include "app/ev_proc.h"
#include "app/service_queue.h"
#include "daemon/ev_forkcmd.h"
#include "driver/restart_policy.h"
#include "ipc/mq_vm_message.h"

class MainDaemon : public IEvProc {
 public:
  struct Options {
    RestartPolicy::Options restart;
    // How long a stop waits for the AMQP daemon to end before the daemon
    // ends anyway (the AMQP daemon then follows when it sees its parent gone).
    double stop_grace = 3;
  };

  MainDaemon() : MainDaemon(Options{}) {}
  explicit MainDaemon(Options options);

  void stop_watchers() override;
  bool init() override;
  void on_loop_finished() override;
  void on_sighup() override;
  void on_sigint() override;
  void on_sigterm() override;

  AmqpDaemon& amqp_daemon() { return amqp_; }

  // Leaves the daemon behind in a forked child that goes on with the loop for
  // itself (a VM wrapper) or without it (a worker): stops every watcher,
  // closes the queue and marks the loop as forked.
  void prepare_forked_child();

 private:
  void start_amqp_daemon();
  void on_amqp_daemon_exit(int wait_status);
  void stop_service(int signal);
  void on_queue_message(std::string text);
  void process_one_message();
  // A broker request: "host-inventory" is answered, every other method gets
  // the "Unsupported method" error, through the AMQP daemon.
  void answer_broker_request(const mq_vm_message& record);

  static void child_cb(struct ev_loop* loop, ev_child* watcher, int revents);
  static void restart_cb(struct ev_loop* loop, ev_timer* watcher, int revents);
  static void stop_grace_cb(struct ev_loop* loop, ev_timer* watcher, int revents);
  static void idle_cb(struct ev_loop* loop, ev_idle* watcher, int revents);

  Options options_;
  AmqpDaemon amqp_;
  ServiceQueue queue_;
  std::unique_ptr<EvForkCmd> fork_cmd_;
  RestartPolicy restart_;
  std::deque<std::string> messages_;
  pid_t child_ = 0;
  std::chrono::steady_clock::time_point child_started_;
  bool stopping_ = false;
  ev_child child_watcher_{};
  ev_timer restart_timer_{};
  ev_timer stop_grace_timer_{};
  ev_idle idle_{};
};
