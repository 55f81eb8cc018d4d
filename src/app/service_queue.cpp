#include "app/service_queue.h"

#include <spdlog/spdlog.h>

bool ServiceQueue::open(struct ev_loop* loop, const std::string& name, MqReader::Sink sink) {
  close(false);
  if (!queue_.open_reader(name)) {
    spdlog::critical("!!! Can't open message queue '{}': {}", name, queue_.error());
    return false;
  }
  reader_ = std::make_unique<MqReader>(loop, queue_, std::move(sink));
  reader_->start();
  spdlog::info("## Message queue '{}' opened: {} messages of {} bytes, {} waiting", name,
               queue_.max_messages(), queue_.message_size(), queue_.pending());
  return true;
}

void ServiceQueue::stop() {
  if (reader_) reader_->stop();
}

void ServiceQueue::close(bool remove) {
  reader_.reset();
  if (!queue_.is_open()) return;
  std::string name = queue_.name();
  long waiting = queue_.pending();
  queue_.close();
  if (!remove) return;
  if (waiting > 0)
    spdlog::info("## {} messages are kept in '{}' for the next start", waiting, name);
  else
    PosixMq::unlink(name);
}
