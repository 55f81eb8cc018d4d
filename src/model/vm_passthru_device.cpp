#include "model/vm_passthru_device.h"

#include "ipc/json_readers.h"
#include "model/record_json.h"

void from_json(const nlohmann::json& j, VmPassthruDevice& d) {
  d.description = json_string_or(j, "description", d.description);
  d.slot = json_uint_or(j, "slot", d.slot);
  d.bus = json_uint_or(j, "bus", d.bus);
  d.device = json_uint_or(j, "device", d.device);
  d.function = json_uint_or(j, "function", d.function);
}

void to_json(nlohmann::json& j, const VmPassthruDevice& d) {
  j = nlohmann::json{{"description", d.description}, {"slot", d.slot}, {"bus", d.bus},
                     {"device", d.device}, {"function", d.function}};
}
