#include "pool/request/fifo_reply_wait.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
constexpr double kIoCollectInterval = 0.05;
constexpr size_t kReadSize = 512;
constexpr char kReplyOk = 0x01;
constexpr char kReplyFailed = 0x02;
}  // namespace

FifoReplyWait::FifoReplyWait(struct ev_loop* loop, double timeout_s)
    : loop_(loop), timeout_s_(timeout_s) {
  ev_set_io_collect_interval(loop_, kIoCollectInterval);
  ev_idle_init(&reading_, read_cb);
  reading_.data = this;
  ev_timer_init(&timer_, timer_cb, 0., timeout_s_ > 0 ? timeout_s_ : 0.);
  timer_.data = this;
}

FifoReplyWait::~FifoReplyWait() { close(); }

bool FifoReplyWait::open(const std::string& path) {
  if (!fifo_.open(true, path)) return false;
  if (!keep_open_.open(false, path)) {
    int saved = errno;
    fifo_.close();
    errno = saved;
    return false;
  }
  ev_io_init(&io_, io_cb, fifo_.fd(), EV_READ);
  io_.data = this;
  ev_io_start(loop_, &io_);
  if (timeout_s_ > 0) ev_timer_again(loop_, &timer_);
  return true;
}

void FifoReplyWait::run() {
  if (fifo_.is_open()) ev_run(loop_, 0);
}

void FifoReplyWait::close() {
  ev_io_stop(loop_, &io_);
  ev_idle_stop(loop_, &reading_);
  ev_timer_stop(loop_, &timer_);
  fifo_.close();
  keep_open_.close();
}

void FifoReplyWait::io_cb(struct ev_loop* loop, ev_io* w, int) {
  auto* self = static_cast<FifoReplyWait*>(w->data);
  ev_io_stop(loop, w);
  ev_idle_start(loop, &self->reading_);
}

void FifoReplyWait::read_cb(struct ev_loop* loop, ev_idle* w, int) {
  ev_idle_stop(loop, w);
  static_cast<FifoReplyWait*>(w->data)->on_read();
}

void FifoReplyWait::timer_cb(struct ev_loop* loop, ev_timer* w, int) {
  auto* self = static_cast<FifoReplyWait*>(w->data);
  self->reply_ok_ = false;
  self->timed_out_ = true;
  self->flush_text();
  ev_break(loop, EVBREAK_ONE);
}

void FifoReplyWait::flush_text() {
  if (!text_.empty()) std::puts(text_.c_str());
  text_.clear();
  std::fflush(stdout);
}

void FifoReplyWait::rearm_io() {
  if (!ev_is_active(&io_)) ev_io_start(loop_, &io_);
}

void FifoReplyWait::on_read() {
  char buf[kReadSize];
  ssize_t n = ::read(fifo_.fd(), buf, sizeof buf);
  if (n == 0) {
    flush_text();
    rearm_io();
    return;
  }
  if (n < 0) {
    if (errno != EAGAIN && errno != EINTR)
      std::fprintf(stderr, "FIFO: read error: %d - %s\n", errno, std::strerror(errno));
    rearm_io();
    return;
  }
  if (timeout_s_ > 0) ev_timer_again(loop_, &timer_);
  for (ssize_t i = 0; i < n; ++i) {
    if (buf[i] == kReplyOk || buf[i] == kReplyFailed) {
      reply_ok_ = buf[i] == kReplyOk;
      flush_text();
      ev_break(loop_, EVBREAK_ONE);
      return;
    }
    text_.push_back(buf[i]);
  }
  // More may be waiting beyond this read.
  ev_idle_start(loop_, &reading_);
  rearm_io();
}
