#include "model/record_json.h"

#include "ipc/json_readers.h"

uint64_t json_uint_or(const nlohmann::json& j, const std::string& key, uint64_t fallback) {
  const nlohmann::json* v = json_member(j, key);
  if (v && v->is_number_unsigned()) return v->get<uint64_t>();
  // A sentinel that json_int_or never returns for a present value would be
  // ambiguous; ask twice with different fallbacks instead.
  int64_t a = json_int_or(j, key, -1);
  int64_t b = json_int_or(j, key, -2);
  if (a != b || a < 0) return fallback;
  return static_cast<uint64_t>(a);
}

std::vector<std::string> json_string_list(const nlohmann::json& list) {
  std::vector<std::string> out;
  if (!list.is_array()) return out;
  for (const auto& item : list) {
    if (item.is_string())
      out.push_back(item.get<std::string>());
    else if (item.is_number() || item.is_boolean())
      out.push_back(item.dump());
  }
  return out;
}

std::string compact_json(const nlohmann::json& j) {
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

const nlohmann::json* json_member(const nlohmann::json& j, const std::string& key) {
  if (!j.is_object()) return nullptr;
  auto it = j.find(key);
  return it == j.end() ? nullptr : &*it;
}
