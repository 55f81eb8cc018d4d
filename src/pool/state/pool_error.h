// The refusal of a pool query or operation: a result code and its text.
#pragma once

#include <optional>
#include <string>

struct pool_error {
  int code = 0;
  std::string text;
};

// Nothing when the check passed, else why not.
using pool_check = std::optional<pool_error>;

// Result codes of the pool queries and operations.
inline constexpr int kPoolOk = 1;
inline constexpr int kPoolFailed = -5;
inline constexpr int kPoolSuspended = -460;
inline constexpr int kPoolStopped = -461;

// The result of a pool operation: kPoolOk with "" or the VMs that failed, or
// a failure code with its text.
struct pool_op_result {
  int code = kPoolOk;
  std::string text;
  bool ok() const { return code == kPoolOk; }
};
