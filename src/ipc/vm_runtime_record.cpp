#include "ipc/vm_runtime_record.h"

#include <optional>

#include <nlohmann/json.hpp>

#include "ipc/json_readers.h"

std::string VmRuntimeRecord::to_text() const {
  nlohmann::json j{{"vmid", vmid},
                   {"method", method},
                   {"pid", pid},
                   {"ppid", ppid},
                   {"tstamp", tstamp},
                   {"abort_count", abort_count},
                   {"abort_time", abort_time},
                   {"item", item},
                   {"restart_started", restart_started}};
  return json_compact_text(j);
}

VmRuntimeRecord parse_runtime_record(const std::string& text) {
  VmRuntimeRecord r;
  std::optional<nlohmann::json> j = json_parse_object(text);
  if (!j) return r;
  r.vmid = json_string_or(*j, "vmid", r.vmid);
  r.method = json_string_or(*j, "method", r.method);
  r.pid = json_int32_or(*j, "pid", r.pid);
  r.ppid = json_int32_or(*j, "ppid", r.ppid);
  r.tstamp = json_int32_or(*j, "tstamp", r.tstamp);
  r.abort_count = json_int32_or(*j, "abort_count", r.abort_count);
  r.abort_time = json_int_or(*j, "abort_time", r.abort_time);
  r.item = json_document_or(*j, "item", r.item);
  r.restart_started = json_bool_or(*j, "restart_started", r.restart_started);
  return r;
}
