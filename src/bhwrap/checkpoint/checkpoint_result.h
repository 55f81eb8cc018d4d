// The outcome of a checkpoint image operation: a code (0 = success) and a
// message (empty on success).
#pragma once

#include <cstdint>
#include <string>

struct checkpoint_result {
  int32_t code = 0;
  std::string message;

  bool ok() const { return code == 0; }
};
