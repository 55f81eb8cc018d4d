// Senders of the records between the processes of the controller. Each opens
// the target queue, sends one record and closes it again, and returns "" on
// success, "MQ not opened" when the queue cannot be opened (for the daemon's
// queue: the daemon is not running), or else the reason the send failed (the
// system's text; a queue that stays full for the time-out gives the system's
// time-out text).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ipc/mq_vm_message.h"
#include "ipc/posix_mq.h"

// Sends `text` to the queue `queue` (a real queue name). With `create_missing`
// a queue that does not exist yet is created with the configured attributes,
// so that the record waits for its reader.
std::string mq_send_text(const std::string& queue, const std::string& text,
                         bool create_missing = false, int timeout_ms = PosixMq::kSendTimeoutMs);

// To the daemon: a confirmation of the command for `vm_id` (a pid, or -1).
std::string mq_send_confirm(const std::string& vm_id, int32_t status,
                            const std::string& reply_queue);

// To the daemon: the end of a VM run.
std::string mq_send_vm_exit(const std::string& vm_id, int32_t status,
                            const std::optional<mq_exit_info>& exit);

// To the daemon: a command of the command line; `reply_fifo` is the FIFO on
// which the answer is awaited ("" for none), `status` the command's time-out
// in seconds (-1 = none).
std::string mq_send_vm_command(const std::string& vm_id, const std::string& command,
                               const std::string& reply_fifo, int64_t status);

// To the daemon: a pool was started, stopped, suspended or resumed.
std::string mq_send_pool_status(const std::string& pool, const std::string& command,
                                int64_t status);

// To the daemon: a broker request, forwarded by the AMQP daemon.
std::string mq_send_amqp_request(const std::string& message, const std::string& corrid,
                                 const std::string& reply_queue,
                                 int timeout_ms = PosixMq::kSendTimeoutMs);

// To the AMQP daemon: a text to publish, or a pool_control record.
std::string mq_send_to_amqp(const std::string& corrid, const std::string& reply_queue,
                            const std::string& message, const std::string& timer);
