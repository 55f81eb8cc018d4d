#include "storage/pool_result.h"

const char* pool_error_name(uint32_t code) {
  static const char* const names[] = {
      "ok",           "bad request",   "bad pool properties", "bad geometry", "bad device",
      "device busy",  "device in use", "redundancy mismatch", "unsupported",  "pool exists",
      "pool not found", "zfs failure", "internal error"};
  return code < std::size(names) ? names[code] : "unknown";
}
