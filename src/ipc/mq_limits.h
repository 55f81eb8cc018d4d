// Sizes of the controller's two message queues ("/ombrix-vm.mq" and
// "/ombrix-vm-amqp.mq") and the host limits they need.
//
// All POSIX message queues of one user share one byte budget (on Linux the
// RLIMIT_MSGQUEUE limit, 819200 bytes by default, which root cannot raise
// without CAP_SYS_RESOURCE), and the kernel caps the size of one message
// (kern.mqueue.maxmsgsize). The message size comes from the configuration
// ([RUN] MqMaxMsgSizeKb); the number of messages per queue is chosen so that
// both queues fit into the budget.
#pragma once

#include <cstdint>
#include <string>

struct MqAttributes {
  long max_messages = 10;  // messages a queue holds before senders wait
  long message_size = 0;   // bytes of the largest message
};

// The kernel's book-keeping per queued message, counted against the budget on
// top of the message bytes (an upper bound of Linux's accounting).
inline constexpr long kMqMessageOverhead = 128;

// Attributes for one of the two queues given the configured size in KiB and
// the user's byte budget (<= 0: no budget). A size of 0 or less means the
// default 128 KiB; a size that would not let both queues hold one message is
// cut down to what fits. `max_messages` is budget / (2 * (size + overhead)),
// kept within 1..10.
MqAttributes mq_attributes_for(int64_t message_size_kb, int64_t budget_bytes);

// The user's message-queue byte budget, 0 when the host sets none.
int64_t mq_user_budget();

// The attributes from Config::instance().mq_max_msg_size_kb and the budget.
MqAttributes mq_configured_attributes();

// Makes the host accept messages of `message_size` bytes: reads
// kern.mqueue.maxmsgsize and raises it when it is smaller. Returns "" when the
// limit suffices or was raised, else why it could not be.
std::string mq_raise_host_limit(long message_size);
