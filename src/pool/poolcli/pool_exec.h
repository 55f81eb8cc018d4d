// Pool::exec: the "pool" system of the command line.
//
//   list                          the started pools (and unreadable ones)
//   status --id=POOL              one pool's state
//   start, stop, suspend, resume, unshare --id=POOL
//                                 the pool operation on every VM of the pool
//
// "list" takes no --id, every other action needs one; otherwise the usage
// text is printed. A failure is printed as "Error: <text>" on standard error.
#pragma once

#include <optional>
#include <string>

class Pool {
 public:
  // Nothing on success, else the error text. `param` is "force" (--force),
  // "1" (--no-service) or "".
  static std::optional<std::string> exec(const std::string& action, const std::string& id,
                                         const std::string& param);
};
