// The AMQP daemon "Ombrix QTR (AMQP-daemon)": the broker client of the
// service. Forked by the daemon, it reads "/ombrix-vm-amqp.mq" (what to
// publish, and the pool consumers to start or stop) and ends when the daemon
// is gone.
#pragma once

#include <sys/types.h>

#include <string>

#include "app/amqp_mq_callback.h"
#include "app/ev_proc.h"
#include "app/service_queue.h"

class AmqpDaemon : public IEvProc {
 public:
  // Runs the process as the child of `parent`; returns its exit status.
  int run_as_child_of(pid_t parent);

  void stop_watchers() override;
  bool init() override;
  void on_loop_finished() override;
  void on_sighup() override;
  void on_sigint() override;
  void on_sigterm() override;

  AmqpMsgCallback& callback() { return callback_; }

 private:
  void on_queue_message(const std::string& text);

  AmqpMqCallback callback_;
  ServiceQueue queue_;
  pid_t parent_ = 0;
  bool stopped_by_signal_ = false;
};
