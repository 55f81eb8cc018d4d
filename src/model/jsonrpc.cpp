#include "model/jsonrpc.h"

#include "model/record_json.h"

std::string make_jsonrpc_reply(const nlohmann::json& id, int code, const nlohmann::json& data) {
  nlohmann::json reply = {
      {"id", id}, {"jsonrpc", "2.0"}, {"result", {{"code", code}, {"data", data}}}};
  return compact_json(reply);
}

std::string make_jsonrpc_error(const nlohmann::json& id, int code, const std::string& message,
                               const nlohmann::json& data) {
  nlohmann::json reply = {{"id", id},
                          {"jsonrpc", "2.0"},
                          {"error", {{"code", code}, {"message", message}, {"data", data}}}};
  return compact_json(reply);
}

std::string make_vm_event(const VmEvent& event) {
  nlohmann::json exit = nullptr;
  if (event.exit_code || event.exit_signal) {
    exit = nlohmann::json::object();
    if (event.exit_code) exit["code"] = *event.exit_code;
    if (event.exit_signal) exit["signal"] = *event.exit_signal;
  }
  nlohmann::json data = {
      {"vm_id", event.vm_id},
      {"status", vm_status_name(event.status, true)},
      {"progress", event.progress},
      {"pid", event.pid},
      {"exit", exit},
      {"initiator", event.initiator},
  };
  return compact_json(nlohmann::json{{"data", data}});
}

std::string make_vm_message_event(const std::string& vm_id, const std::string& text) {
  return compact_json(nlohmann::json{{"vm_id", vm_id}, {"message", text}});
}
