// Byte strings in JSON records. JSON texts are UTF-8, but some values that
// travel in records are bytes from outside (a broker message's correlation
// id). put_json_bytes writes the value under its key as before (bytes that
// are not UTF-8 come out replaced, as every reader has always seen them) and,
// only when the value is not valid UTF-8, its exact bytes in base64 under
// key + "_b64". json_bytes_or prefers that member, so the value comes back
// unchanged; records without it read as they always did.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

void put_json_bytes(nlohmann::json& j, const std::string& key, const std::string& bytes);

// The bytes under `key`: from key + "_b64" when it holds valid base64, else
// json_string_or(j, key, fallback). Never throws.
std::string json_bytes_or(const nlohmann::json& j, const std::string& key,
                          const std::string& fallback);
