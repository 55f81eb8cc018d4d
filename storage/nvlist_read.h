// Reading members of libzfs's nvlists: nothing when the member is missing.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "hostlib/nvpair.h"

inline std::optional<std::string> nv_string(nvlist_t* list, const char* name) {
  const char* value = nullptr;
  if (nvpair::nvlist_lookup_string(list, name, &value) != 0 || !value) return std::nullopt;
  return std::string(value);
}

inline std::optional<uint64_t> nv_uint64(nvlist_t* list, const char* name) {
  uint64_t value = 0;
  if (nvpair::nvlist_lookup_uint64(list, name, &value) != 0) return std::nullopt;
  return value;
}

inline std::optional<std::span<nvlist_t*>> nv_lists(nvlist_t* list, const char* name) {
  nvlist_t** members = nullptr;
  uint_t count = 0;
  if (nvpair::nvlist_lookup_nvlist_array(list, name, &members, &count) != 0) return std::nullopt;
  return std::span<nvlist_t*>(members, members ? count : 0);
}

inline std::optional<std::span<uint64_t>> nv_numbers(nvlist_t* list, const char* name) {
  uint64_t* numbers = nullptr;
  uint_t count = 0;
  if (nvpair::nvlist_lookup_uint64_array(list, name, &numbers, &count) != 0) return std::nullopt;
  return std::span<uint64_t>(numbers, numbers ? count : 0);
}

inline nvlist_t* nv_list(nvlist_t* list, const char* name) {
  nvlist_t* member = nullptr;
  if (nvpair::nvlist_lookup_nvlist(list, name, &member) != 0) return nullptr;
  return member;
}
