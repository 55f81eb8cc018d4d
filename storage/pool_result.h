// The result of every pool operation of the storage library: a pool_error
// code and a message (empty on success unless the operation says otherwise).
#pragma once

#include <cstdint>
#include <string>

enum class pool_error : uint32_t {
  ok = 0,
  bad_request = 1,
  bad_pool_properties = 2,
  bad_geometry = 3,
  bad_device = 4,
  device_busy = 5,
  device_in_use = 6,
  redundancy_mismatch = 7,
  unsupported = 8,
  pool_exists = 9,
  pool_not_found = 10,
  zfs_failure = 11,
  internal_error = 12,
};

struct pool_result {
  pool_error code = pool_error::ok;
  std::string message;

  bool ok() const { return code == pool_error::ok; }
};

// "ok", "bad request", ... ; "unknown" for any other value.
const char* pool_error_name(uint32_t code);
inline const char* pool_error_name(pool_error code) {
  return pool_error_name(static_cast<uint32_t>(code));
}

// The result of the single-device and import/export operations: 0 success,
// -1 failure (and 1 for a warning of online_device), with a text.
struct zfs_call_result {
  int32_t code = 0;
  std::string text;
};
