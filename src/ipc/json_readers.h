// Lenient readers of JSON records: every record reader takes its fields
// through these, so that a peer writing a number as text (or text as a number)
// is still understood. None of them throws.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

// The text of `key`: a string as it is, a number or bool as its JSON text;
// `fallback` when the key is missing, null, or `j` is not an object.
std::string json_string_or(const nlohmann::json& j, const std::string& key,
                           const std::string& fallback);

// The integer of `key`: a number (a fraction is cut), or a text holding a whole
// decimal number; `fallback` otherwise.
int64_t json_int_or(const nlohmann::json& j, const std::string& key, int64_t fallback);

// The integer of `key` read as json_int_or reads it; nothing when the key is
// missing, null or holds no integer.
std::optional<int64_t> json_int_opt(const nlohmann::json& j, const std::string& key);

// As json_int_opt and json_int_or, for signed 32-bit values: a value outside
// that range counts as no integer.
std::optional<int32_t> json_int32_opt(const nlohmann::json& j, const std::string& key);
int32_t json_int32_or(const nlohmann::json& j, const std::string& key, int32_t fallback);

// A member that carries a JSON document: a string as it is, an object, array
// or number as its compact JSON text; `fallback` when missing or null.
std::string json_document_or(const nlohmann::json& j, const std::string& key,
                             const std::string& fallback);

// The bool of `key`: a bool, a number (non-zero is true), or the texts "true"
// and "1" (true) or "false" and "0" (false); `fallback` otherwise.
bool json_bool_or(const nlohmann::json& j, const std::string& key, bool fallback);

// The compact JSON text of `j`; never throws: bytes that are not UTF-8 are
// replaced by U+FFFD.
std::string json_compact_text(const nlohmann::json& j);

// Parses `text` as a JSON object; nothing (and `error` set when given) when it
// is not valid JSON or not an object. Never throws.
std::optional<nlohmann::json> json_parse_object(const std::string& text,
                                                std::string* error = nullptr);
