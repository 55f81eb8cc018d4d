// Wakes an event loop when messages arrive on a queue and hands every waiting
// message to a callback. Messages that were queued before the reader started
// (left by a previous instance of the process) are delivered on the loop's
// first iteration.
#pragma once

#include <ev.h>

#include <functional>
#include <string>

#include "ipc/posix_mq.h"

class MqReader {
 public:
  using Sink = std::function<void(std::string)>;

  // `queue` must be open for reading and outlive the reader. The sink runs on
  // the loop's thread, one call per message, oldest first; it may stop the
  // reader but must not destroy it.
  MqReader(struct ev_loop* loop, PosixMq& queue, Sink sink);
  ~MqReader();
  MqReader(const MqReader&) = delete;
  MqReader& operator=(const MqReader&) = delete;

  // False when the queue is not open.
  bool start();
  void stop();
  bool active() const;

  // Delivers what is waiting now, without the loop; returns how many.
  size_t drain();

 private:
  static void io_cb(struct ev_loop* loop, ev_io* watcher, int revents);

  struct ev_loop* loop_;
  PosixMq& queue_;
  Sink sink_;
  ev_io io_;
};
