// Lenient readers of JSON records: every record reader takes its fields
// through these, so that a peer writing a number as text (or text as a number)
// is still understood. None of them throws.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

// The text of `key`: a string as it is, a number or bool as its JSON text;
// `fallback` when the key is missing, null, or `j` is not an object.
std::string json_string_or(const nlohmann::json& j, const std::string& key,
                           const std::string& fallback);

// The integer of `key`: a number (a fraction is cut), or a text holding a whole
// decimal number; `fallback` otherwise.
int64_t json_int_or(const nlohmann::json& j, const std::string& key, int64_t fallback);

// The bool of `key`: a bool, a number (non-zero is true), or the texts "true"
// and "1" (true) or "false" and "0" (false); `fallback` otherwise.
bool json_bool_or(const nlohmann::json& j, const std::string& key, bool fallback);
