#include "pool/vmcli/vm_config_view.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "pool/state/vm_status_query.h"

bool vm_config(const std::string& vm_id) {
  std::map<std::string, std::string> config = vm_state_query(vm_id);
  if (config.empty()) {
    std::printf("VM id=%s not runned\n", vm_id.c_str());
    return false;
  }
  int width = 0;
  for (const auto& [key, value] : config) width = std::max(width, static_cast<int>(key.size()));
  for (const auto& [key, value] : config) std::printf("%*s : %s\n", width, key.c_str(), value.c_str());
  return true;
}
