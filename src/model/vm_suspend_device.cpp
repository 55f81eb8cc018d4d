#include "model/vm_suspend_device.h"

#include "ipc/json_readers.h"

void from_json(const nlohmann::json& j, VmSuspendDevice& d) {
  d.trtype = json_string_or(j, "trtype", d.trtype);
  d.traddr = json_string_or(j, "traddr", d.traddr);
}

void to_json(nlohmann::json& j, const VmSuspendDevice& d) {
  j = nlohmann::json{{"trtype", d.trtype}, {"traddr", d.traddr}};
}
