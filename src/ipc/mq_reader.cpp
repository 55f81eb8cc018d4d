#include "ipc/mq_reader.h"

#include <utility>

#include <spdlog/spdlog.h>

MqReader::MqReader(struct ev_loop* loop, PosixMq& queue, Sink sink)
    : loop_(loop), queue_(queue), sink_(std::move(sink)) {
  ev_io_init(&io_, &MqReader::io_cb, -1, EV_READ);
  io_.data = this;
}

MqReader::~MqReader() { stop(); }

bool MqReader::start() {
  if (ev_is_active(&io_)) return true;
  if (!queue_.is_open()) return false;
  ev_io_set(&io_, queue_.descriptor(), EV_READ);
  ev_io_start(loop_, &io_);
  return true;
}

void MqReader::stop() {
  if (ev_is_active(&io_)) ev_io_stop(loop_, &io_);
}

bool MqReader::active() const { return ev_is_active(&io_); }

size_t MqReader::drain() {
  size_t count = queue_.drain(sink_);
  if (!queue_.error().empty()) {
    // A queue that fails to read would wake the loop for ever.
    spdlog::error("### IPC. Message queue '{}' read error: {}; reading stopped", queue_.name(),
                  queue_.error());
    stop();
  }
  return count;
}

void MqReader::io_cb(struct ev_loop*, ev_io* watcher, int) {
  static_cast<MqReader*>(watcher->data)->drain();
}
