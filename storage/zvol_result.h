// The result of the zvol operations: code 0 with the volume's guid in
// decimal, or a negative code with the message.
#pragma once

#include <cstdint>
#include <string>

struct zvol_result {
  int32_t code = 0;
  std::string text;

  bool ok() const { return code == 0; }
};
