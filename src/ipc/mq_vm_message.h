// The records sent to the daemon's queue, one compact JSON text per message:
//
//   amqp_request  {"type": "amqp_request", "message", "corrid", ["corrid_b64",] "reply_queue"}
//                 ("corrid_b64": the exact bytes of a correlation id that is
//                 not UTF-8, see json_bytes.h)
//                 a broker request forwarded by the AMQP daemon
//   confirm       {"type": "confirm", "vmid", "status", "reply_queue"}
//                 a forked worker or VM wrapper confirming its command
//   vm_command    {"vmid", "command", "reply_queue", "status", "datetime"}
//                 a command from the command line; "reply_queue" is the FIFO
//                 to answer on ("" for none), "status" the time-out in s
//   vm_exit       {"vmid", "command": "exit", "status", "exit", "datetime"}
//                 a VM wrapper reporting the end of a bhyve run; "exit" is
//                 {"code", "signal", "initiator", "method"}, each of "code"
//                 and "signal" only when known, the whole member only when
//                 the run ended with an exit code or a signal
//   pool_status   {"pool", "command", "reply_queue", "status", "datetime"}
//                 a pool operation reporting a pool start, stop, suspend or
//                 resume
//
// Readers take every field leniently and never throw; a record they cannot
// use comes back as kind `invalid` with the reason.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

enum class MqVmMessageKind { invalid, amqp_request, confirm, vm_command, vm_exit, pool_status };

// The command word of a VM exit report.
inline constexpr const char* kVmExitCommand = "exit";

// How a bhyve run ended, as the VM wrapper saw it.
struct mq_exit_info {
  std::optional<int32_t> code;    // bhyve's exit code
  std::optional<int32_t> signal;  // the signal that ended bhyve
  std::string initiator = "none"; // "none", "command" or "timeout"
  std::string method;             // the command that ended the run, if any

  bool operator==(const mq_exit_info&) const = default;
};

nlohmann::json mq_exit_info_json(const mq_exit_info& info);
mq_exit_info read_mq_exit_info(const nlohmann::json& j);

struct mq_vm_message {
  MqVmMessageKind kind = MqVmMessageKind::invalid;
  std::string vmid;         // confirm, vm_command, vm_exit
  std::string pool;         // pool_status
  std::string command;      // vm_command, pool_status; kVmExitCommand for vm_exit
  std::string reply_queue;  // confirm, vm_command (FIFO path), amqp_request (reply-to)
  int64_t status = -1;
  std::string datetime;     // local time "%F %T" of the untyped records
  std::string message;      // amqp_request: the broker message body
  std::string corrid;       // amqp_request: the broker correlation id
  std::optional<mq_exit_info> exit;  // vm_exit
  std::string error;        // invalid: why the text was not usable

  bool operator==(const mq_vm_message&) const = default;
};

mq_vm_message make_amqp_request_message(const std::string& message, const std::string& corrid,
                                        const std::string& reply_queue);
mq_vm_message make_confirm_message(const std::string& vm_id, int32_t status,
                                   const std::string& reply_queue);
mq_vm_message make_vm_command_message(const std::string& vm_id, const std::string& command,
                                      const std::string& reply_fifo, int64_t status);
mq_vm_message make_vm_exit_message(const std::string& vm_id, int32_t status,
                                   const std::optional<mq_exit_info>& exit);
mq_vm_message make_pool_status_message(const std::string& pool, const std::string& command,
                                       int64_t status);

// The record as JSON (only the members of its kind) and as compact text.
nlohmann::json mq_vm_message_json(const mq_vm_message& m);
std::string mq_vm_message_text(const mq_vm_message& m);

// The record of a received text; never throws.
mq_vm_message parse_mq_vm_message(const std::string& text);
mq_vm_message read_mq_vm_message(const nlohmann::json& j);

// The local time now as "%F %T".
std::string local_datetime_text();
