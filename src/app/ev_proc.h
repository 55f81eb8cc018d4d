// A service process: one object per process, running the default libev loop.
#pragma once

#include <sys/types.h>

#include <ev.h>

class IEvProc {
 public:
  virtual ~IEvProc();

  // Stops every watcher the object started (also in a forked child, before
  // the child uses the loop for itself). Overrides call the base.
  virtual void stop_watchers();

  // Sets the process up on loop(); false ends the process with status 1.
  virtual bool init() = 0;
  // After the loop has ended.
  virtual void on_loop_finished() = 0;
  virtual void on_sighup() = 0;
  virtual void on_sigint() = 0;
  virtual void on_sigterm() = 0;

  // Runs the process: signal watchers for SIGHUP, SIGINT and SIGTERM, init(),
  // the loop, on_loop_finished(). Returns the process's exit status.
  int run();

  struct ev_loop* loop() const { return loop_; }

 protected:
  // Ends the process's loop; run() then returns `status`.
  void end_loop(int status = 0);

  // Ends the loop when process `parent` no longer lives (or is no longer this
  // process's parent): checked after `first` seconds, then every `every`.
  void watch_parent(pid_t parent, double first = 1, double every = 3);

 private:
  static void signal_cb(struct ev_loop* loop, ev_signal* watcher, int revents);
  static void parent_cb(struct ev_loop* loop, ev_timer* watcher, int revents);

  struct ev_loop* loop_ = nullptr;
  ev_signal sighup_{}, sigint_{}, sigterm_{};
  ev_timer parent_timer_{};
  pid_t parent_ = 0;
  int exit_status_ = 0;
};
