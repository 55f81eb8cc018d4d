#include "model/vm_hv_faults.h"

#include "model/record_json.h"

void from_json(const nlohmann::json& j, VmHvFaults& f) {
  const nlohmann::json* sigabort = json_member(j, "sigabort");
  if (!sigabort) return;
  f.sigabort_interval = json_uint_or(*sigabort, "interval", f.sigabort_interval);
  f.sigabort_restarts = json_uint_or(*sigabort, "restarts", f.sigabort_restarts);
}

void to_json(nlohmann::json& j, const VmHvFaults& f) {
  j = nlohmann::json{
      {"sigabort", {{"interval", f.sigabort_interval}, {"restarts", f.sigabort_restarts}}}};
}
