#include "model/vm_vnc.h"

#include "ipc/json_readers.h"

void from_json(const nlohmann::json& j, VmVnc& vnc) {
  vnc.host = json_string_or(j, "host", vnc.host);
  vnc.port = json_int_or(j, "port", vnc.port);
  vnc.width = json_int_or(j, "width", vnc.width);
  vnc.height = json_int_or(j, "height", vnc.height);
}

void to_json(nlohmann::json& j, const VmVnc& vnc) {
  j = nlohmann::json{
      {"host", vnc.host}, {"port", vnc.port}, {"width", vnc.width}, {"height", vnc.height}};
}
