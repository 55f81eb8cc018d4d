#include "ipc/json_bytes.h"

#include <exception>

#include "driver/base64.h"
#include "ipc/json_readers.h"

namespace {

constexpr const char* kBytesSuffix = "_b64";

bool valid_utf8(const std::string& bytes) {
  try {
    (void)nlohmann::json(bytes).dump();  // the strict handler throws on bad UTF-8
    return true;
  } catch (const nlohmann::json::type_error&) {
    return false;
  }
}

}  // namespace

void put_json_bytes(nlohmann::json& j, const std::string& key, const std::string& bytes) {
  j[key] = bytes;
  if (!valid_utf8(bytes)) j[key + kBytesSuffix] = base64_encode(bytes);
}

std::string json_bytes_or(const nlohmann::json& j, const std::string& key,
                          const std::string& fallback) {
  std::string exact = json_string_or(j, key + kBytesSuffix, "");
  if (!exact.empty()) {
    try {
      return base64_decode(exact);
    } catch (const std::exception&) {
      // not base64: the plain member below
    }
  }
  return json_string_or(j, key, fallback);
}
