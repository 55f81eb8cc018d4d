#include "storage/dataset_property_list.h"

#include <charconv>
#include <optional>

namespace {

// The plain decimal number `text` ("0010" is 10); nothing for a sign, a unit,
// a word or a value past 64 bits.
std::optional<uint64_t> plain_number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

const char* prop_name(zfs_prop_t prop) {
  const char* name = libzfs::zfs_prop_to_name(prop);
  return name ? name : "";
}

}  // namespace

int32_t dataset_property_list::add_text(const std::string& name, const std::string& text) {
  return stored(nvpair::nvlist_add_string(list(), name.c_str(), text.c_str()), name, text);
}

int32_t dataset_property_list::add_number(const std::string& name, uint64_t number) {
  return stored(nvpair::nvlist_add_uint64(list(), name.c_str(), number), name, number);
}

int32_t dataset_property_list::set(const std::string& name, uint64_t number) {
  if (!ensure_list()) return property_no_memory;
  zfs_prop_t prop = libzfs::zfs_name_to_prop(name.c_str());
  if (prop <= 0) return property_unknown;
  if (libzfs::zfs_prop_is_string(prop)) return add_text(name, std::to_string(number));
  return add_number(name, number);
}

int32_t dataset_property_list::set(const std::string& name, const std::string& text) {
  if (!ensure_list()) return property_no_memory;
  zfs_prop_t prop = libzfs::zfs_name_to_prop(name.c_str());
  if (prop < 0) {
    if (libzfs::zfs_prop_user(name.c_str()) != 1) return property_unknown;
    return add_text(name, text);
  }
  if (libzfs::zfs_prop_is_string(prop) || text.empty()) return add_text(name, text);
  if (std::optional<uint64_t> number = plain_number(text)) return add_number(name, *number);
  return add_text(name, text);
}

int32_t dataset_property_list::set_prop(zfs_prop_t prop, uint64_t number) {
  return set(prop_name(prop), number);
}

int32_t dataset_property_list::set_prop(zfs_prop_t prop, const std::string& text) {
  return set(prop_name(prop), text);
}

uint64_t dataset_property_list::get_uint(const std::string& name, uint64_t fallback) const {
  auto it = values().find(name);
  if (it == values().end() || it->second.index() != 0) return fallback;
  return std::get<0>(it->second);
}

std::string dataset_property_list::get_text(const std::string& name,
                                            const std::string& fallback) const {
  auto it = values().find(name);
  if (it == values().end()) return fallback;
  if (const uint64_t* number = std::get_if<0>(&it->second)) return std::to_string(*number);
  return std::get<1>(it->second);
}
