// FifoReplyWait: waits on a reply FIFO of its own for the daemon's answer to
// one command, on a private libev loop.
//
// Takes: the loop (one per request), the FIFO's real path, a time-out in
// seconds (0 or less: none; counted from the last data).
// Answers: whether the answer ended with the success byte 0x01 (0x02 ends a
// failed one), and whether the time-out came first.
//
// The text before the terminating byte is printed (puts) when the terminator
// comes and also when the wait times out; bytes after the terminator in the
// same read are dropped. The object keeps a writer end of the FIFO open
// itself, so a daemon that closes its end never makes the FIFO report end of
// file over and over (which would spin the loop).
#pragma once

#include <ev.h>

#include <string>

#include "ipc/fifo.h"

class FifoReplyWait {
 public:
  FifoReplyWait(struct ev_loop* loop, double timeout_s);
  ~FifoReplyWait();
  FifoReplyWait(const FifoReplyWait&) = delete;
  FifoReplyWait& operator=(const FifoReplyWait&) = delete;

  // Creates (unless present) and opens the FIFO at `path` (real path); false
  // with errno kept on failure. The node is never removed here.
  bool open(const std::string& path);

  // Runs the loop until the terminator or the time-out.
  void run();

  // Stops the watchers and closes both ends.
  void close();

  bool reply_ok() const { return reply_ok_; }
  bool timed_out() const { return timed_out_; }

 private:
  static void io_cb(struct ev_loop* loop, ev_io* w, int revents);
  static void read_cb(struct ev_loop* loop, ev_idle* w, int revents);
  static void timer_cb(struct ev_loop* loop, ev_timer* w, int revents);

  void on_read();
  void flush_text();
  void rearm_io();

  struct ev_loop* loop_;
  ev_io io_{};
  ev_idle reading_{};
  ev_timer timer_{};
  Fifo fifo_;
  Fifo keep_open_;  // our own writer end
  std::string text_;
  double timeout_s_;
  bool reply_ok_ = false;
  bool timed_out_ = false;
};
