#include "pool/vmcli/vm_exec.h"

#include <cstdio>
#include <map>
#include <set>

#include "model/state_mark.h"
#include "pool/state/pool_list.h"
#include "pool/state/pool_state_gate.h"
#include "pool/vmcli/vm_config_view.h"
#include "pool/vmcli/vm_listing.h"
#include "pool/vmcli/vm_priority.h"
#include "pool/request/vm_request.h"
#include "pool/vmcli/vm_unshare.h"

namespace {

// An action gets the arguments of its own call; the table holds nothing else.
using Action = bool (*)(const std::string& vm_id, const std::string& param);

const std::map<std::string, Action>& action_table() {
  static const std::map<std::string, Action> table = {
      {"list", [](const std::string&, const std::string&) { return vm_list(); }},
      {"status", [](const std::string& id, const std::string&) { return vm_status(id); }},
      {"start", [](const std::string& id, const std::string& p) { return vm_start_request(id, true, p); }},
      {"stop", [](const std::string& id, const std::string&) { return vm_stop_request(id); }},
      {"restart", [](const std::string& id, const std::string&) { return vm_restart_request(id); }},
      {"suspend", [](const std::string& id, const std::string&) { return vm_suspend_request(id, ""); }},
      {"resume", [](const std::string& id, const std::string&) { return vm_resume_request(id, ""); }},
      {"pause", [](const std::string& id, const std::string&) { return vm_pause_request(id); }},
      {"unpause", [](const std::string& id, const std::string&) { return vm_unpause_request(id); }},
      {"unshare", [](const std::string& id, const std::string& p) { return vm_unshare(id, p, "", ""); }},
      {"nice", [](const std::string& id, const std::string&) { return vm_nice(id); }},
      {"setnice", [](const std::string& id, const std::string& p) { return vm_setnice(id, p); }},
      {"vcpuclass", [](const std::string& id, const std::string&) { return vm_vcpuclass(id); }},
      {"setvcpuclass", [](const std::string& id, const std::string& p) { return vm_setvcpuclass(id, p); }},
      {"config", [](const std::string& id, const std::string&) { return vm_config(id); }},
  };
  return table;
}

// Actions that only read: they answer whatever state the VM's pool is in.
const std::set<std::string> kGateExempt = {"list", "status", "config", "nice", "vcpuclass"};

}  // namespace

bool VM::exec(const std::string& action, const std::string& vm_id, const std::string& param) {
  const auto& table = action_table();
  auto it = table.find(action);
  if (it == table.end()) {
    std::fprintf(stderr, "Unknown command: '%s'\n", action.c_str());
    return false;
  }
  if (action != "list") {
    if (vm_id.empty()) {
      std::fprintf(stderr, "Missing parameter '--id' for implementation of '%s'\n", action.c_str());
      return false;
    }
    // The id names files, FIFOs and shared-memory objects: it must be one name.
    if (!valid_state_name(vm_id)) {
      std::fprintf(stderr, "Error: Invalid VM id '%s'\n", vm_id.c_str());
      return false;
    }
  }
  if (!kGateExempt.contains(action)) {
    if (auto refused = pool_state_gate(vm_pool_of(vm_id), true)) {
      std::fprintf(stderr, "Error: %s\n", refused->text.c_str());
      return false;
    }
  }
  bool ok = it->second(vm_id, param);
  std::fflush(stdout);
  return ok;
}
