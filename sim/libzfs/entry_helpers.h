// Helpers shared by the stand-in's entry points.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "sim/include/libnvpair_stand_in.h"
#include "sim/libzfs/handles.h"
#include "sim/libzfs/names.h"

namespace zfs_sim {

inline std::string quoted(const char* what, const std::string& name) {
  return std::string(what) + " '" + name + "'";
}

// The members of a property list as settings; a member that is neither a
// number nor a text is refused.
inline std::variant<std::vector<PropSetting>, Failure> settings_of(nvlist_t* props) {
  std::vector<PropSetting> settings;
  for (nvpair_t* pair = nvlist_next_nvpair(props, nullptr); pair;
       pair = nvlist_next_nvpair(props, pair)) {
    PropSetting setting{nvpair_name(pair), std::nullopt, ""};
    uint64_t number64 = 0;
    uint32_t number32 = 0;
    const char* text = nullptr;
    if (nvpair_value_uint64(pair, &number64) == 0)
      setting.number = number64;
    else if (nvpair_value_uint32(pair, &number32) == 0)
      setting.number = number32;
    else if (nvpair_value_string(pair, &text) == 0)
      setting.text = text;
    else
      return Failure{EZFS_BADPROP, "'" + setting.name + "' must be a number or a string"};
    settings.push_back(std::move(setting));
  }
  return settings;
}

// Runs a dataset change and keeps its pool for the history on success.
template <class F>
int change(libzfs_handle_t* hdl, const char* function, const std::string& action,
           const std::string& name, F&& op) {
  Outcome outcome = with_model(hdl, function, op);
  if (outcome) return record(hdl, action, *outcome);
  hdl->last_pool = pool_of(name);
  return 0;
}

inline void copy_text(char* buf, size_t len, const std::string& text) {
  if (!buf || len == 0) return;
  size_t n = std::min(len - 1, text.size());
  std::memcpy(buf, text.data(), n);
  buf[n] = '\0';
}

// The pair names of a list, in list order.
inline std::vector<std::string> names_of(nvlist_t* list) {
  std::vector<std::string> names;
  for (nvpair_t* pair = nvlist_next_nvpair(list, nullptr); pair;
       pair = nvlist_next_nvpair(list, pair))
    names.push_back(nvpair_name(pair));
  return names;
}

}  // namespace zfs_sim
