#include "ipc/mq_limits.h"

#include <sys/resource.h>

#include <algorithm>
#include <charconv>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "driver/config.h"
#include "platform/sysctl.h"

namespace {

constexpr int64_t kDefaultMessageSizeKb = 128;
constexpr long kMaxMessages = 10;
constexpr long kMinMessageSize = 1024;
constexpr const char* kMaxMessageSizeSysctl = "kern.mqueue.maxmsgsize";

}  // namespace

MqAttributes mq_attributes_for(int64_t message_size_kb, int64_t budget_bytes) {
  if (message_size_kb <= 0) message_size_kb = kDefaultMessageSizeKb;
  // Far beyond any kernel's limit; keeps the arithmetic below in range.
  message_size_kb = std::min<int64_t>(message_size_kb, 1 << 20);
  MqAttributes attrs;
  attrs.message_size = static_cast<long>(message_size_kb * 1024);
  if (budget_bytes <= 0) {
    attrs.max_messages = kMaxMessages;
    return attrs;
  }
  const int64_t fitting = budget_bytes / 2 - kMqMessageOverhead;
  if (attrs.message_size > fitting) {
    long cut = static_cast<long>(std::max<int64_t>(fitting, kMinMessageSize));
    spdlog::warn("### IPC. A message size of {} KiB does not fit the message-queue budget of {} bytes; using {} bytes",
                 message_size_kb, budget_bytes, cut);
    attrs.message_size = cut;
  }
  int64_t n = budget_bytes / (2 * (attrs.message_size + kMqMessageOverhead));
  attrs.max_messages = static_cast<long>(std::clamp<int64_t>(n, 1, kMaxMessages));
  return attrs;
}

int64_t mq_user_budget() {
#ifdef RLIMIT_MSGQUEUE
  struct rlimit limit {};
  if (getrlimit(RLIMIT_MSGQUEUE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
  return static_cast<int64_t>(limit.rlim_cur);
#else
  return 0;
#endif
}

MqAttributes mq_configured_attributes() {
  return mq_attributes_for(Config::instance().mq_max_msg_size_kb, mq_user_budget());
}

std::string mq_raise_host_limit(long message_size) {
  std::string error;
  std::optional<std::string> current = platform::sysctl_get(kMaxMessageSizeSysctl, &error);
  if (current) {
    long value = 0;
    auto [end, ec] = std::from_chars(current->data(), current->data() + current->size(), value);
    if (ec == std::errc() && value >= message_size) return {};
  }
  if (!platform::sysctl_set(kMaxMessageSizeSysctl, std::to_string(message_size), &error)) {
    std::string text = fmt::format("can't set {} to {}: {}", kMaxMessageSizeSysctl, message_size, error);
    spdlog::error("### IPC. {}", text);
    return text;
  }
  spdlog::info("IPC. {} set to {}", kMaxMessageSizeSysctl, message_size);
  return {};
}
