// The texts of libzfs error numbers.
#pragma once

#include <string>

namespace zfs_sim {

// A failed operation: the libzfs error number and its description.
struct Failure {
  int code;
  std::string text;
};

// The generic text of a libzfs error number ("dataset does not exist").
const char* error_text(int code);

}  // namespace zfs_sim
