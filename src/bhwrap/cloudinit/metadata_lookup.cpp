#include "bhwrap/cloudinit/metadata_lookup.h"

#include <algorithm>
#include <optional>

namespace {

using nlohmann::json;

constexpr std::string_view kSdcPrefix = "sdc:";

// The value at `pointer`; nothing for a pointer that is not valid or not in
// the document.
const json* find_pointer(const json& document, const std::string& pointer) {
  try {
    json::json_pointer p(pointer);
    if (!document.contains(p)) return nullptr;
    return &document.at(p);
  } catch (const json::exception&) {
    return nullptr;
  }
}

const json* find_key(const json& document, const std::string& key) {
  if (key.empty()) return nullptr;
  if (key.front() == '/') return find_pointer(document, key);
  std::string name = key.starts_with(kSdcPrefix) ? key.substr(kSdcPrefix.size()) : key;
  if (document.is_object()) {
    auto it = document.find(name);
    if (it != document.end()) return &*it;
  }
  if (name.find(':') == std::string::npos) return nullptr;
  std::replace(name.begin(), name.end(), ':', '/');
  return find_pointer(document, "/" + name);
}

}  // namespace

std::string metadata_lookup(const json& document, const std::string& key) {
  const json* value = find_key(document, key);
  if (!value) return "";
  if (value->is_string()) return value->get<std::string>();
  return value->dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string metadata_keys(const json& document) {
  std::string keys;
  if (document.is_object())
    for (const char* name : {"root_authorized_keys", "user-data", "user-script"})
      if (document.contains(name)) keys += std::string(name) + "\n";
  return keys.empty() ? "\n" : keys;
}
