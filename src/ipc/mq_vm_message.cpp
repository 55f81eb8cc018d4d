#include "ipc/mq_vm_message.h"

#include <ctime>

#include <fmt/format.h>

#include "ipc/json_bytes.h"
#include "ipc/json_readers.h"

namespace {

constexpr const char* kAmqpRequestType = "amqp_request";
constexpr const char* kConfirmType = "confirm";

mq_vm_message invalid(std::string why) {
  mq_vm_message m;
  m.error = std::move(why);
  return m;
}

// The common part of the records without a type.
mq_vm_message untyped(MqVmMessageKind kind, const std::string& command, int64_t status) {
  mq_vm_message m;
  m.kind = kind;
  m.command = command;
  m.status = status;
  m.datetime = local_datetime_text();
  return m;
}

}  // namespace

std::string local_datetime_text() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  size_t n = std::strftime(text, sizeof text, "%F %T", &local);
  return std::string(text, n);
}

nlohmann::json mq_exit_info_json(const mq_exit_info& info) {
  nlohmann::json j = nlohmann::json::object();
  if (info.code) j["code"] = *info.code;
  if (info.signal) j["signal"] = *info.signal;
  j["initiator"] = info.initiator;
  j["method"] = info.method;
  return j;
}

mq_exit_info read_mq_exit_info(const nlohmann::json& j) {
  mq_exit_info info;
  info.code = json_int32_opt(j, "code");
  info.signal = json_int32_opt(j, "signal");
  info.initiator = json_string_or(j, "initiator", "none");
  info.method = json_string_or(j, "method", "");
  return info;
}

mq_vm_message make_amqp_request_message(const std::string& message, const std::string& corrid,
                                        const std::string& reply_queue) {
  mq_vm_message m;
  m.kind = MqVmMessageKind::amqp_request;
  m.message = message;
  m.corrid = corrid;
  m.reply_queue = reply_queue;
  return m;
}

mq_vm_message make_confirm_message(const std::string& vm_id, int32_t status,
                                   const std::string& reply_queue) {
  mq_vm_message m;
  m.kind = MqVmMessageKind::confirm;
  m.vmid = vm_id;
  m.status = status;
  m.reply_queue = reply_queue;
  return m;
}

mq_vm_message make_vm_command_message(const std::string& vm_id, const std::string& command,
                                      const std::string& reply_fifo, int64_t status) {
  mq_vm_message m = untyped(MqVmMessageKind::vm_command, command, status);
  m.vmid = vm_id;
  m.reply_queue = reply_fifo;
  return m;
}

mq_vm_message make_vm_exit_message(const std::string& vm_id, int32_t status,
                                   const std::optional<mq_exit_info>& exit) {
  mq_vm_message m = untyped(MqVmMessageKind::vm_exit, kVmExitCommand, status);
  m.vmid = vm_id;
  m.exit = exit;
  return m;
}

mq_vm_message make_pool_status_message(const std::string& pool, const std::string& command,
                                       int64_t status) {
  mq_vm_message m = untyped(MqVmMessageKind::pool_status, command, status);
  m.pool = pool;
  return m;
}

nlohmann::json mq_vm_message_json(const mq_vm_message& m) {
  nlohmann::json j = nlohmann::json::object();
  switch (m.kind) {
    case MqVmMessageKind::amqp_request:
      j["type"] = kAmqpRequestType;
      j["message"] = m.message;
      put_json_bytes(j, "corrid", m.corrid);
      j["reply_queue"] = m.reply_queue;
      break;
    case MqVmMessageKind::confirm:
      j["type"] = kConfirmType;
      j["vmid"] = m.vmid;
      j["status"] = m.status;
      j["reply_queue"] = m.reply_queue;
      break;
    case MqVmMessageKind::vm_command:
    case MqVmMessageKind::vm_exit:
      j["vmid"] = m.vmid;
      j["command"] = m.kind == MqVmMessageKind::vm_exit ? kVmExitCommand : m.command;
      if (m.kind == MqVmMessageKind::vm_command) j["reply_queue"] = m.reply_queue;
      j["status"] = m.status;
      if (m.kind == MqVmMessageKind::vm_exit && m.exit) j["exit"] = mq_exit_info_json(*m.exit);
      j["datetime"] = m.datetime;
      break;
    case MqVmMessageKind::pool_status:
      j["pool"] = m.pool;
      j["command"] = m.command;
      j["reply_queue"] = m.reply_queue;
      j["status"] = m.status;
      j["datetime"] = m.datetime;
      break;
    case MqVmMessageKind::invalid:
      break;
  }
  return j;
}

std::string mq_vm_message_text(const mq_vm_message& m) {
  return json_compact_text(mq_vm_message_json(m));
}

mq_vm_message parse_mq_vm_message(const std::string& text) {
  std::string error;
  std::optional<nlohmann::json> j = json_parse_object(text, &error);
  if (!j) return invalid(fmt::format("not a record: {}", error));
  return read_mq_vm_message(*j);
}

mq_vm_message read_mq_vm_message(const nlohmann::json& j) {
  if (!j.is_object()) return invalid("not a record: not a JSON object");
  const std::string type = json_string_or(j, "type", "");
  mq_vm_message m;
  m.reply_queue = json_string_or(j, "reply_queue", "");
  m.status = json_int_or(j, "status", -1);
  if (type == kAmqpRequestType) {
    m.kind = MqVmMessageKind::amqp_request;
    m.message = json_document_or(j, "message", "");
    m.corrid = json_bytes_or(j, "corrid", "");
    if (m.message.empty()) return invalid("amqp_request record without a message");
    return m;
  }
  m.vmid = json_string_or(j, "vmid", "");
  if (type == kConfirmType) {
    m.kind = MqVmMessageKind::confirm;
    if (m.vmid.empty()) return invalid("confirm record without a vmid");
    return m;
  }
  if (!type.empty()) return invalid(fmt::format("unknown record type '{}'", type));

  m.command = json_string_or(j, "command", "");
  m.datetime = json_string_or(j, "datetime", "");
  if (!m.vmid.empty()) {
    if (m.command == kVmExitCommand) {
      m.kind = MqVmMessageKind::vm_exit;
      m.reply_queue.clear();
      if (j.contains("exit") && j["exit"].is_object()) m.exit = read_mq_exit_info(j["exit"]);
      return m;
    }
    m.kind = MqVmMessageKind::vm_command;
    if (m.command.empty()) return invalid(fmt::format("command record for vmid {} without a command", m.vmid));
    return m;
  }
  m.pool = json_string_or(j, "pool", "");
  if (!m.pool.empty()) {
    m.kind = MqVmMessageKind::pool_status;
    if (m.command.empty()) return invalid(fmt::format("pool record for '{}' without a command", m.pool));
    return m;
  }
  return invalid("record names neither a VM nor a pool");
}
