// The message queue a service process reads on its loop.
#pragma once

#include <memory>
#include <string>

#include "ipc/mq_reader.h"
#include "ipc/posix_mq.h"

class ServiceQueue {
 public:
  // Opens the queue `name` (a real name) for reading, creating it with the
  // configured sizes when needed, and hands each message to `sink` on `loop`;
  // messages left by a previous instance come first. False (logged) when the
  // queue cannot be opened.
  bool open(struct ev_loop* loop, const std::string& name, MqReader::Sink sink);

  // Stops reading; the queue stays open.
  void stop();

  // Closes the queue. With `remove` the queue itself is removed unless
  // messages wait in it: those are kept for the next instance.
  void close(bool remove);

  bool is_open() const { return queue_.is_open(); }

 private:
  PosixMq queue_;
  std::unique_ptr<MqReader> reader_;
};
