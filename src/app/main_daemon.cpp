#include "app/main_daemon.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "amqp/amqp_request_reply.h"
#include "app/service_lock.h"
#include "driver/config.h"
#include "driver/logger.h"
#include "driver/process_utils.h"
#include "ipc/mq_send.h"
#include "ipc/mq_vm_message.h"
#include "ipc/posix_mq.h"
#include "pool/state/host_inventory_query.h"

namespace {

std::string describe_wait_status(int status) {
  if (WIFEXITED(status)) return fmt::format("exit status {}", WEXITSTATUS(status));
  if (WIFSIGNALED(status))
    return fmt::format("signal {} ({})", WTERMSIG(status), ::strsignal(WTERMSIG(status)));
  return fmt::format("wait status {}", status);
}

}  // namespace

MainDaemon::MainDaemon(Options options) : options_(std::move(options)), restart_(options_.restart) {
  ev_child_init(&child_watcher_, &MainDaemon::child_cb, 0, 0);
  ev_timer_init(&restart_timer_, &MainDaemon::restart_cb, 0, 0);
  ev_timer_init(&stop_grace_timer_, &MainDaemon::stop_grace_cb, 0, 0);
  ev_idle_init(&idle_, &MainDaemon::idle_cb);
  child_watcher_.data = restart_timer_.data = stop_grace_timer_.data = idle_.data = this;
}

void MainDaemon::stop_watchers() {
  if (struct ev_loop* l = loop()) {
    ev_child_stop(l, &child_watcher_);
    ev_timer_stop(l, &restart_timer_);
    ev_timer_stop(l, &stop_grace_timer_);
    ev_idle_stop(l, &idle_);
  }
  if (fork_cmd_) fork_cmd_->stop_watchers();
  queue_.stop();
  IEvProc::stop_watchers();
}

bool MainDaemon::init() {
  spdlog::info("***** Ombrix QTR (daemon) pid={} started", ::getpid());
  if (!queue_.open(loop(), PosixMq::kDaemonQueue,
                   [this](std::string text) { on_queue_message(std::move(text)); }))
    return false;
  fork_cmd_ = std::make_unique<EvForkCmd>(loop(), [this] { prepare_forked_child(); },
                                          fork_cmd_options_from_environment());
  fork_cmd_->start();
  start_amqp_daemon();
  // Still to come here: the start-up scans of the VMs and the CPU-load timer.
  return true;
}

void MainDaemon::on_loop_finished() {
  if (fork_cmd_) fork_cmd_->abandon_all("The daemon ended before the command was over");
  queue_.close(stopping_);
  spdlog::info("## Ombrix QTR (daemon) pid={} ends", ::getpid());
}

void MainDaemon::start_amqp_daemon() {
  const pid_t parent = ::getpid();
  child_started_ = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid < 0) {
    spdlog::error("### Can't fork the AMQP daemon: {}", std::strerror(errno));
    on_amqp_daemon_exit(W_EXITCODE(1, 0));
    return;
  }
  if (pid == 0) {
    // The child leaves everything of the daemon behind and runs its own loop.
    prepare_forked_child();
    set_process_title(amqp_daemon_title);
    ::_exit(amqp_.run_as_child_of(parent));
  }
  child_ = pid;
  ev_child_set(&child_watcher_, pid, 0);
  ev_child_start(loop(), &child_watcher_);
  spdlog::info("## AMQP daemon started, pid={}", pid);
}

void MainDaemon::prepare_forked_child() {
  // The service's lock ends with the daemon, not with its children.
  close_service_lock_in_child();
  stop_watchers();
  queue_.close(false);
  ev_loop_fork(loop());
}

void MainDaemon::on_amqp_daemon_exit(int wait_status) {
  std::chrono::duration<double> ran = std::chrono::steady_clock::now() - child_started_;
  pid_t pid = child_;
  child_ = 0;
  if (stopping_) {
    spdlog::info("## AMQP daemon pid={} ended: {}", pid, describe_wait_status(wait_status));
    end_loop(0);
    return;
  }
  if (!RestartPolicy::should_restart(wait_status)) {
    spdlog::warn("## AMQP daemon pid={} ended: {}; it is not restarted", pid,
                 describe_wait_status(wait_status));
    return;
  }
  double delay = restart_.next_delay(ran.count());
  spdlog::error("### AMQP daemon pid={} ended: {} after {:.1f} s; restart #{} in {} s", pid,
                describe_wait_status(wait_status), ran.count(), restart_.restarts(), delay);
  ev_timer_set(&restart_timer_, delay, 0);
  ev_timer_start(loop(), &restart_timer_);
}

void MainDaemon::stop_service(int signal) {
  stopping_ = true;
  ev_timer_stop(loop(), &restart_timer_);
  if (!child_) {
    end_loop(0);
    return;
  }
  ::kill(child_, signal);
  ev_timer_set(&stop_grace_timer_, options_.stop_grace, 0);
  ev_timer_start(loop(), &stop_grace_timer_);
}

void MainDaemon::on_sighup() {
  Config& config = Config::instance();
  config.load();
  set_log_level(config.effective_log_level());
  spdlog::info("## The configuration is read again");
  if (child_) ::kill(child_, SIGHUP);
}

void MainDaemon::on_sigint() { stop_service(SIGINT); }

void MainDaemon::on_sigterm() { stop_service(SIGTERM); }

void MainDaemon::on_queue_message(std::string text) {
  messages_.push_back(std::move(text));
  ev_idle_start(loop(), &idle_);
}

void MainDaemon::process_one_message() {
  if (messages_.empty()) {
    ev_idle_stop(loop(), &idle_);
    return;
  }
  std::string text = std::move(messages_.front());
  messages_.pop_front();
  mq_vm_message record = parse_mq_vm_message(text);
  if (record.kind == MqVmMessageKind::amqp_request) {
    answer_broker_request(record);
    return;
  }
  if (record.kind == MqVmMessageKind::confirm)
    fork_cmd_->process_confirm(record);
  else
    fork_cmd_->process_mq_message(record, text);
}

void MainDaemon::answer_broker_request(const mq_vm_message& record) {
  std::string why;
  auto reply = answer_amqp_request(record.message, record.corrid, record.reply_queue,
                                   Config::instance().publish_queue, collect_host_inventory, &why);
  if (!reply) {
    spdlog::error("### amqp_request is not answered: {}: {}", why, record.message);
    return;
  }
  std::string error = mq_send_to_amqp(reply->corrid, reply->reply_queue, reply->message, "");
  if (!error.empty())
    spdlog::error("### MQ send error: {}; the reply corrid={} is lost", error, reply->corrid);
}

void MainDaemon::child_cb(struct ev_loop* l, ev_child* watcher, int) {
  auto* self = static_cast<MainDaemon*>(watcher->data);
  ev_child_stop(l, watcher);
  self->on_amqp_daemon_exit(watcher->rstatus);
}

void MainDaemon::restart_cb(struct ev_loop*, ev_timer* watcher, int) {
  auto* self = static_cast<MainDaemon*>(watcher->data);
  if (!self->stopping_) self->start_amqp_daemon();
}

void MainDaemon::stop_grace_cb(struct ev_loop*, ev_timer* watcher, int) {
  auto* self = static_cast<MainDaemon*>(watcher->data);
  spdlog::warn("## AMQP daemon pid={} did not end in {} s", self->child_, self->options_.stop_grace);
  self->end_loop(0);
}

void MainDaemon::idle_cb(struct ev_loop*, ev_idle* watcher, int) {
  static_cast<MainDaemon*>(watcher->data)->process_one_message();
}
