// JSON-RPC 2.0 replies and the notifications the controller publishes.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "model/vm_status.h"

// {"id": id, "jsonrpc": "2.0", "result": {"code": code, "data": data}}
std::string make_jsonrpc_reply(const nlohmann::json& id, int code, const nlohmann::json& data);

// {"id": id, "jsonrpc": "2.0", "error": {"code": code, "message": message, "data": data}}
std::string make_jsonrpc_error(const nlohmann::json& id, int code, const std::string& message,
                               const nlohmann::json& data = nullptr);

// A change of a VM's state.
struct VmEvent {
  std::string vm_id;
  VmStatus status = VmStatus::undefined;
  int progress = 0;  // percent
  int pid = 0;       // bhyve's pid, 0 when none
  // How the VM's bhyve ended, when it did: exit code or signal.
  std::optional<int> exit_code;
  std::optional<int> exit_signal;
  std::string initiator = "none";  // "none", "command" or "timeout"
};

// {"data": {"vm_id", "status" (lower-case status name), "progress", "pid",
//           "exit": {"code"?, "signal"?} or null, "initiator"}}
std::string make_vm_event(const VmEvent& event);

// {"vm_id": vm_id, "message": text}: a message about a guest (cloud-init progress).
std::string make_vm_message_event(const std::string& vm_id, const std::string& text);
