// The AMQP daemon "Ombrix QTR (AMQP-daemon)": the broker client of the
// service. Forked by the daemon, it runs one AmqpClient on its loop: every
// request consumed from the broker goes to the daemon as an "amqp_request"
// record (AmqpMqCallback; one that cannot go there is answered here with a
// JSON-RPC error); every record on "/ombrix-vm-amqp.mq" is published
// (replies, events, guest messages) or, with the corrid "pool_control",
// starts or stops a pool's consumer. SIGHUP applies the re-read [AMQP]
// settings and reconnects; the process ends when the daemon is gone.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "amqp/amqp_client.h"
#include "app/amqp_mq_callback.h"
#include "app/ev_proc.h"
#include "app/service_queue.h"

class AmqpDaemon : public IEvProc {
 public:
  // Timings of the broker client (tests shorten them); the started pools come
  // from the pool list unless `options.pools` is set.
  void set_client_options(AmqpClient::Options options) { client_options_ = std::move(options); }

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

  void apply_config();
  // Answers a request that cannot reach the daemon with a JSON-RPC error.
  void refuse_request(const std::string& body, const std::string& corrid,
                      const std::string& reply_to, const std::string& cause);

  AmqpMqCallback callback_;
  AmqpClient::Options client_options_;
  std::unique_ptr<AmqpClient> client_;
  ServiceQueue queue_;
  pid_t parent_ = 0;
  bool stopped_by_signal_ = false;
};
