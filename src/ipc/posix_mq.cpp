#include "ipc/posix_mq.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "platform/host_root.h"
#include "platform/sysctl.h"

namespace {

// Why an open failed, with what the host allows when that is the likely cause.
std::string open_failure(int err, const std::string& name, const MqAttributes* attrs) {
  std::string text = std::strerror(err);
  if (err == EINVAL && attrs) {
    std::string limit = platform::sysctl_get("kern.mqueue.maxmsgsize").value_or("unknown");
    text += fmt::format(" (asked for {} messages of {} bytes; the host allows messages of {} bytes)",
                        attrs->max_messages, attrs->message_size, limit);
  } else if (err == EMFILE && attrs) {
    text += fmt::format(" (the user's message-queue budget of {} bytes cannot hold {} messages of {} bytes)",
                        mq_user_budget(), attrs->max_messages, attrs->message_size);
  } else if (err == ENOENT) {
    text += " (the queue does not exist: its reader is not running)";
  }
  return text;
}

timespec deadline_after(int timeout_ms) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  if (timeout_ms > 0) {
    ts.tv_sec += timeout_ms / 1000;
    ts.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
    if (ts.tv_nsec >= 1000000000L) {
      ts.tv_sec += 1;
      ts.tv_nsec -= 1000000000L;
    }
  }
  return ts;
}

}  // namespace

PosixMq::~PosixMq() { close(); }

PosixMq::PosixMq(PosixMq&& other) noexcept
    : queue_(std::exchange(other.queue_, kClosed)),
      name_(std::move(other.name_)),
      error_(std::move(other.error_)),
      message_size_(std::exchange(other.message_size_, 0)),
      max_messages_(std::exchange(other.max_messages_, 0)) {}

PosixMq& PosixMq::operator=(PosixMq&& other) noexcept {
  if (this != &other) {
    close();
    queue_ = std::exchange(other.queue_, kClosed);
    name_ = std::move(other.name_);
    error_ = std::move(other.error_);
    message_size_ = std::exchange(other.message_size_, 0);
    max_messages_ = std::exchange(other.max_messages_, 0);
  }
  return *this;
}

bool PosixMq::open_reader(const std::string& name, const MqAttributes& attrs) {
  if (!open(name, O_RDONLY | O_NONBLOCK | O_CREAT, &attrs)) return false;
  if (message_size_ != attrs.message_size || max_messages_ != attrs.max_messages)
    spdlog::info("IPC. Message queue '{}' kept from before: {} messages of {} bytes ({} of {} bytes asked)",
                 name, max_messages_, message_size_, attrs.max_messages, attrs.message_size);
  return true;
}

bool PosixMq::open_reader(const std::string& name) {
  MqAttributes attrs = mq_configured_attributes();
  mq_raise_host_limit(attrs.message_size);
  return open_reader(name, attrs);
}

bool PosixMq::open_writer(const std::string& name, const std::optional<MqAttributes>& create_with) {
  if (create_with) return open(name, O_WRONLY | O_CREAT, &*create_with);
  return open(name, O_WRONLY, nullptr);
}

bool PosixMq::open(const std::string& name, int flags, const MqAttributes* create_with) {
  close();
  name_ = name;
  error_.clear();
  const std::string mapped = platform::ipc_name(name);
  mq_attr attr{};
  if (create_with) {
    attr.mq_maxmsg = create_with->max_messages;
    attr.mq_msgsize = create_with->message_size;
  }
  mqd_t q = mq_open(mapped.c_str(), flags | O_CLOEXEC, 0660, create_with ? &attr : nullptr);
  if (q == kClosed) {
    error_ = open_failure(errno, name, create_with);
    spdlog::error("### IPC. Can't open message queue '{}' for {}: {}", mapped,
                  (flags & O_ACCMODE) == O_RDONLY ? "reading" : "writing", error_);
    return false;
  }
  mq_attr actual{};
  if (mq_getattr(q, &actual) != 0) {
    error_ = std::strerror(errno);
    mq_close(q);
    spdlog::error("### IPC. Can't read the attributes of message queue '{}': {}", mapped, error_);
    return false;
  }
  queue_ = q;
  message_size_ = actual.mq_msgsize;
  max_messages_ = actual.mq_maxmsg;
  return true;
}

long PosixMq::pending() const {
  if (!is_open()) return -1;
  mq_attr attr{};
  if (mq_getattr(queue_, &attr) != 0) return -1;
  return attr.mq_curmsgs;
}

int PosixMq::descriptor() const {
  if (!is_open()) return -1;
#if defined(__FreeBSD__)
  return mq_getfd_np(queue_);
#else
  return static_cast<int>(queue_);
#endif
}

std::string PosixMq::send(std::string_view text, int timeout_ms) {
  if (!is_open()) return "MQ not opened";
  if (static_cast<long>(text.size()) > message_size_)
    return fmt::format("record of {} bytes exceeds the queue's message size of {} bytes",
                       text.size(), message_size_);
  const timespec deadline = deadline_after(timeout_ms);
  while (mq_timedsend(queue_, text.data(), text.size(), 0, &deadline) != 0) {
    if (errno != EINTR) return std::strerror(errno);
  }
  return {};
}

std::optional<std::string> PosixMq::receive() {
  if (!is_open()) {
    error_ = "MQ not opened";
    return std::nullopt;
  }
  std::string buffer(static_cast<size_t>(message_size_), '\0');
  for (;;) {
    ssize_t n = mq_receive(queue_, buffer.data(), buffer.size(), nullptr);
    if (n >= 0) {
      buffer.resize(static_cast<size_t>(n));
      return buffer;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) error_ = std::strerror(errno);
    return std::nullopt;
  }
}

size_t PosixMq::drain(const std::function<void(std::string)>& sink) {
  error_.clear();
  size_t count = 0;
  while (std::optional<std::string> message = receive()) {
    sink(std::move(*message));
    ++count;
  }
  return count;
}

void PosixMq::close() {
  if (queue_ != kClosed) mq_close(queue_);
  queue_ = kClosed;
  message_size_ = 0;
  max_messages_ = 0;
}

bool PosixMq::unlink(const std::string& name) {
  return mq_unlink(platform::ipc_name(name).c_str()) == 0;
}
