#include "app/amqp_daemon.h"

#include <unistd.h>

#include <spdlog/spdlog.h>

#include "driver/config.h"
#include "driver/logger.h"
#include "ipc/mq_request.h"
#include "ipc/posix_mq.h"

// The broker client (AmqpClient) is not part of the program yet. When it is,
// init() constructs it with program_name, loop() and callback_, hands it the
// Config fields amqp_url, exchange, event_key, publish_queue, cmd_queue and
// heartbeats (apply_config) and starts it; on_sighup() applies the new values
// and reloads it; on_loop_finished() stops it; on_queue_message() hands
// pool_control records to its pool_control and the others to publish_reply.

int AmqpDaemon::run_as_child_of(pid_t parent) {
  parent_ = parent;
  return run();
}

void AmqpDaemon::stop_watchers() {
  queue_.stop();
  IEvProc::stop_watchers();
}

bool AmqpDaemon::init() {
  spdlog::info("***** Ombrix QTR (AMQP-daemon) pid={} started", ::getpid());
  if (!queue_.open(loop(), PosixMq::kAmqpQueue, [this](std::string text) { on_queue_message(text); }))
    return false;
  if (parent_ > 0) watch_parent(parent_);
  return true;
}

void AmqpDaemon::on_loop_finished() {
  queue_.close(stopped_by_signal_);
  spdlog::info("## Ombrix QTR (AMQP-daemon) pid={} ends", ::getpid());
}

void AmqpDaemon::on_sighup() {
  Config& config = Config::instance();
  config.load();
  set_log_level(config.effective_log_level());
  if (!config.amqp_error.empty()) {
    spdlog::error("### amqp:config: {}. The AMQP address is not applied", config.amqp_error);
    return;
  }
  spdlog::info("## amqp:config: the configuration is read again");
}

void AmqpDaemon::on_sigint() {
  stopped_by_signal_ = true;
  end_loop(0);
}

void AmqpDaemon::on_sigterm() {
  stopped_by_signal_ = true;
  end_loop(0);
}

void AmqpDaemon::on_queue_message(const std::string& text) {
  std::string error;
  auto request = parse_mq_request(text, &error);
  if (!request) {
    spdlog::error("### IPC. Bad record on '{}': {}", PosixMq::kAmqpQueue, error);
    return;
  }
  if (request->corrid == kPoolControlCorrid) {
    spdlog::warn("### amqp: no broker client; pool_control {} {} is dropped", request->reply_queue,
                 request->message);
    return;
  }
  spdlog::warn("### amqp: no broker client; the message for '{}' corrid={} is dropped",
               request->reply_queue, request->corrid);
}
