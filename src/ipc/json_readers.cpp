#include "ipc/json_readers.h"

#include <charconv>

namespace {

const nlohmann::json* member(const nlohmann::json& j, const std::string& key) {
  if (!j.is_object()) return nullptr;
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return nullptr;
  return &*it;
}

}  // namespace

std::string json_string_or(const nlohmann::json& j, const std::string& key,
                           const std::string& fallback) {
  const nlohmann::json* v = member(j, key);
  if (!v) return fallback;
  if (v->is_string()) return v->get<std::string>();
  if (v->is_number() || v->is_boolean()) return v->dump();
  return fallback;
}

int64_t json_int_or(const nlohmann::json& j, const std::string& key, int64_t fallback) {
  const nlohmann::json* v = member(j, key);
  if (!v) return fallback;
  if (v->is_number_integer()) return v->get<int64_t>();
  if (v->is_number_unsigned()) return static_cast<int64_t>(v->get<uint64_t>());
  if (v->is_number_float()) {
    double d = v->get<double>();
    if (d != d || d > 9.2e18 || d < -9.2e18) return fallback;
    return static_cast<int64_t>(d);
  }
  if (v->is_string()) {
    const std::string& s = v->get_ref<const std::string&>();
    int64_t out = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    if (ec == std::errc() && end == s.data() + s.size() && !s.empty()) return out;
  }
  return fallback;
}

bool json_bool_or(const nlohmann::json& j, const std::string& key, bool fallback) {
  const nlohmann::json* v = member(j, key);
  if (!v) return fallback;
  if (v->is_boolean()) return v->get<bool>();
  if (v->is_number()) return v->get<double>() != 0;
  if (v->is_string()) {
    const std::string& s = v->get_ref<const std::string&>();
    if (s == "true" || s == "1") return true;
    if (s == "false" || s == "0") return false;
  }
  return fallback;
}
