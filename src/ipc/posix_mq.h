// One end of a POSIX message queue, closed when the object goes. The queue
// itself outlives the object: messages left in it wait for the next reader.
#pragma once

#include <mqueue.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "ipc/mq_limits.h"

class PosixMq {
 public:
  // The daemon's queue and the AMQP daemon's queue (real names; mapped here).
  static constexpr const char* kDaemonQueue = "/ombrix-vm.mq";
  static constexpr const char* kAmqpQueue = "/ombrix-vm-amqp.mq";
  static constexpr int kSendTimeoutMs = 3000;

  PosixMq() = default;
  ~PosixMq();
  PosixMq(PosixMq&& other) noexcept;
  PosixMq& operator=(PosixMq&& other) noexcept;
  PosixMq(const PosixMq&) = delete;
  PosixMq& operator=(const PosixMq&) = delete;

  // Opens the queue `name` for reading without waiting, creating it with
  // `attrs` when it does not exist. Messages already queued stay there for
  // receive(). False (logged, error() says why) when it cannot be opened.
  bool open_reader(const std::string& name, const MqAttributes& attrs);

  // As above with the configured attributes, after raising the host's limit
  // on the message size when the configured size needs it.
  bool open_reader(const std::string& name);

  // Opens the queue `name` for sending. The queue must exist unless
  // `create_with` is given, in which case a missing queue is created with
  // those attributes (so that what is sent waits for the reader to come).
  bool open_writer(const std::string& name,
                   const std::optional<MqAttributes>& create_with = std::nullopt);

  bool is_open() const { return queue_ != kClosed; }
  // The real name given to the last open.
  const std::string& name() const { return name_; }
  // Why the last open or receive failed; "" when it did not.
  const std::string& error() const { return error_; }
  // The queue's own attributes (which may differ from the requested ones when
  // the queue already existed); 0 when not open.
  long message_size() const { return message_size_; }
  long max_messages() const { return max_messages_; }
  // Messages waiting in the queue now; -1 when not open.
  long pending() const;

  // A descriptor that becomes readable when a message arrives (for an
  // event-loop watcher); -1 when not open.
  int descriptor() const;

  // Sends one record, waiting at most `timeout_ms` while the queue is full.
  // Returns "" on success, "MQ not opened" when the queue is not open, an
  // error when the record is larger than the queue's message size (records are
  // never cut), else the system's text (a full queue: the time-out's text).
  std::string send(std::string_view text, int timeout_ms = kSendTimeoutMs);

  // One message without waiting; nothing when the queue is empty or on an
  // error (then error() is set).
  std::optional<std::string> receive();

  // Hands every waiting message, oldest first, to `sink`; returns how many.
  size_t drain(const std::function<void(std::string)>& sink);

  void close();

  // Removes the queue `name` (real name); false when it did not exist or
  // could not be removed.
  static bool unlink(const std::string& name);

 private:
  static inline const mqd_t kClosed = static_cast<mqd_t>(-1);

  bool open(const std::string& name, int flags, const MqAttributes* create_with);

  mqd_t queue_ = kClosed;
  std::string name_;
  std::string error_;
  long message_size_ = 0;
  long max_messages_ = 0;
};
