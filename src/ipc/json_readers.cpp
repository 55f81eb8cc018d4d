#include "ipc/json_readers.h"

#include <charconv>
#include <limits>

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

std::optional<int64_t> json_int_opt(const nlohmann::json& j, const std::string& key) {
  const nlohmann::json* v = member(j, key);
  if (!v) return std::nullopt;
  if (v->is_number_unsigned()) {
    uint64_t u = v->get<uint64_t>();
    if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
    return static_cast<int64_t>(u);
  }
  if (v->is_number_integer()) return v->get<int64_t>();
  if (v->is_number_float()) {
    double d = v->get<double>();
    if (d != d || d > 9.2e18 || d < -9.2e18) return std::nullopt;
    return static_cast<int64_t>(d);
  }
  if (v->is_string()) {
    const std::string& s = v->get_ref<const std::string&>();
    int64_t out = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    if (ec == std::errc() && end == s.data() + s.size() && !s.empty()) return out;
  }
  return std::nullopt;
}

int64_t json_int_or(const nlohmann::json& j, const std::string& key, int64_t fallback) {
  return json_int_opt(j, key).value_or(fallback);
}

std::optional<int32_t> json_int32_opt(const nlohmann::json& j, const std::string& key) {
  std::optional<int64_t> v = json_int_opt(j, key);
  if (!v || *v < std::numeric_limits<int32_t>::min() || *v > std::numeric_limits<int32_t>::max())
    return std::nullopt;
  return static_cast<int32_t>(*v);
}

int32_t json_int32_or(const nlohmann::json& j, const std::string& key, int32_t fallback) {
  return json_int32_opt(j, key).value_or(fallback);
}

std::string json_document_or(const nlohmann::json& j, const std::string& key,
                             const std::string& fallback) {
  const nlohmann::json* v = member(j, key);
  if (!v) return fallback;
  if (v->is_string()) return v->get<std::string>();
  return json_compact_text(*v);
}

std::string json_compact_text(const nlohmann::json& j) {
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
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

std::optional<nlohmann::json> json_parse_object(const std::string& text, std::string* error) {
  nlohmann::json j;
  try {
    j = nlohmann::json::parse(text);
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return std::nullopt;
  }
  if (!j.is_object()) {
    if (error) *error = "not a JSON object";
    return std::nullopt;
  }
  return j;
}
