#include "ipc/mq_send.h"

#include "ipc/mq_request.h"

namespace {

std::string send_to_daemon(const mq_vm_message& m, int timeout_ms = PosixMq::kSendTimeoutMs) {
  return mq_send_text(PosixMq::kDaemonQueue, mq_vm_message_text(m), false, timeout_ms);
}

}  // namespace

std::string mq_send_text(const std::string& queue, const std::string& text, bool create_missing,
                         int timeout_ms) {
  PosixMq mq;
  bool opened = create_missing ? mq.open_writer(queue, mq_configured_attributes())
                               : mq.open_writer(queue);
  if (!opened) return "MQ not opened";
  return mq.send(text, timeout_ms);
}

std::string mq_send_confirm(const std::string& vm_id, int32_t status,
                            const std::string& reply_queue) {
  return send_to_daemon(make_confirm_message(vm_id, status, reply_queue));
}

std::string mq_send_vm_exit(const std::string& vm_id, int32_t status,
                            const std::optional<mq_exit_info>& exit) {
  return send_to_daemon(make_vm_exit_message(vm_id, status, exit));
}

std::string mq_send_vm_command(const std::string& vm_id, const std::string& command,
                               const std::string& reply_fifo, int64_t status) {
  return send_to_daemon(make_vm_command_message(vm_id, command, reply_fifo, status));
}

std::string mq_send_pool_status(const std::string& pool, const std::string& command,
                                int64_t status) {
  return send_to_daemon(make_pool_status_message(pool, command, status));
}

std::string mq_send_amqp_request(const std::string& message, const std::string& corrid,
                                 const std::string& reply_queue, int timeout_ms) {
  return send_to_daemon(make_amqp_request_message(message, corrid, reply_queue), timeout_ms);
}

std::string mq_send_to_amqp(const std::string& corrid, const std::string& reply_queue,
                            const std::string& message, const std::string& timer) {
  return mq_send_text(PosixMq::kAmqpQueue,
                      mq_request_text(mq_request{corrid, reply_queue, message, timer}),
                      /*create_missing=*/true);
}
