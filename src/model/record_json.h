// Small readers and writers shared by the VM record files: what the lenient
// readers of ipc/json_readers.h do for single values, done for unsigned
// numbers and lists of texts, and a JSON writer that never throws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// The unsigned integer of `key` through json_int_or; `fallback` also when the
// value is negative (a negative count or size is not a usable value).
uint64_t json_uint_or(const nlohmann::json& j, const std::string& key, uint64_t fallback);

// The texts of a JSON list: strings as they are, numbers and bools as their JSON
// text; other elements (objects, lists, null) are left out. Not a list: empty.
std::vector<std::string> json_string_list(const nlohmann::json& list);

// Compact JSON text. Bytes that are not UTF-8 (texts that came from outside)
// are replaced instead of making the writer throw.
std::string compact_json(const nlohmann::json& j);

// `j`'s member `key` when `j` is an object holding it, else nullptr.
const nlohmann::json* json_member(const nlohmann::json& j, const std::string& key);
