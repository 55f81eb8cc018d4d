#include "model/vm_disk.h"

#include "ipc/json_readers.h"
#include "model/record_json.h"

void from_json(const nlohmann::json& j, VmDisk& disk) {
  disk.devtype = json_string_or(j, "devtype", disk.devtype);
  disk.trtype = json_string_or(j, "trtype", disk.trtype);
  disk.traddr = json_string_or(j, "traddr", disk.traddr);
  disk.dev = json_string_or(j, "dev", disk.dev);
  disk.guid = json_uint_or(j, "guid", disk.guid);
  disk.iops_limit = json_int_or(j, "iops_limit", disk.iops_limit);
  disk.mbps_limit = json_int_or(j, "mbps_limit", disk.mbps_limit);
  disk.size = json_uint_or(j, "size", disk.size);
  if (const nlohmann::json* s = json_member(j, "sector_size")) {
    disk.sector_size.logical = json_uint_or(*s, "logical", disk.sector_size.logical);
    disk.sector_size.physical = json_uint_or(*s, "physical", disk.sector_size.physical);
  }
  disk.slot = json_uint_or(j, "slot", disk.slot);
}

void to_json(nlohmann::json& j, const VmDisk& disk) {
  j = nlohmann::json{
      {"devtype", disk.devtype},
      {"trtype", disk.trtype},
      {"traddr", disk.traddr},
      {"dev", disk.dev},
      {"guid", disk.guid},
      {"iops_limit", disk.iops_limit},
      {"mbps_limit", disk.mbps_limit},
      {"size", disk.size},
      {"sector_size",
       {{"logical", disk.sector_size.logical}, {"physical", disk.sector_size.physical}}},
      {"slot", disk.slot},
  };
}
