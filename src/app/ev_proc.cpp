#include "app/ev_proc.h"

#include <signal.h>
#include <unistd.h>

#include <exception>

#include <spdlog/spdlog.h>

IEvProc::~IEvProc() = default;

void IEvProc::stop_watchers() {
  if (!loop_) return;
  ev_signal_stop(loop_, &sighup_);
  ev_signal_stop(loop_, &sigint_);
  ev_signal_stop(loop_, &sigterm_);
  ev_timer_stop(loop_, &parent_timer_);
}

int IEvProc::run() {
  loop_ = EV_DEFAULT;
  exit_status_ = 0;
  ::signal(SIGPIPE, SIG_IGN);
  ev_signal_init(&sighup_, &IEvProc::signal_cb, SIGHUP);
  ev_signal_init(&sigint_, &IEvProc::signal_cb, SIGINT);
  ev_signal_init(&sigterm_, &IEvProc::signal_cb, SIGTERM);
  for (ev_signal* w : {&sighup_, &sigint_, &sigterm_}) {
    w->data = this;
    ev_signal_start(loop_, w);
  }
  try {
    if (!init()) {
      stop_watchers();
      return 1;
    }
    ev_run(loop_, 0);
    stop_watchers();
    on_loop_finished();
  } catch (const std::exception& e) {
    spdlog::critical("### Unexpected error: {}", e.what());
    stop_watchers();
    return 1;
  }
  return exit_status_;
}

void IEvProc::end_loop(int status) {
  exit_status_ = status;
  if (loop_) ev_break(loop_, EVBREAK_ALL);
}

void IEvProc::watch_parent(pid_t parent, double first, double every) {
  parent_ = parent;
  ev_timer_init(&parent_timer_, &IEvProc::parent_cb, first, every);
  parent_timer_.data = this;
  ev_timer_start(loop_, &parent_timer_);
}

void IEvProc::signal_cb(struct ev_loop*, ev_signal* watcher, int) {
  auto* self = static_cast<IEvProc*>(watcher->data);
  switch (watcher->signum) {
    case SIGHUP: self->on_sighup(); break;
    case SIGINT: self->on_sigint(); break;
    case SIGTERM: self->on_sigterm(); break;
  }
}

void IEvProc::parent_cb(struct ev_loop*, ev_timer* watcher, int) {
  auto* self = static_cast<IEvProc*>(watcher->data);
  if (::getppid() == self->parent_ && ::kill(self->parent_, 0) == 0) return;
  spdlog::warn("## Parent process {} has gone, pid={} ends", self->parent_, ::getpid());
  self->end_loop(0);
}
