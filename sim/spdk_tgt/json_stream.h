// Cuts a byte stream of JSON values sent one after the other without framing
// into whole values: feed it what arrives, take the complete values out.
#pragma once

#include <optional>
#include <string>

namespace spdk_sim {

class JsonStream {
 public:
  void feed(const std::string& bytes) { buffer_ += bytes; }

  // The text of the next complete value; nothing while it is incomplete.
  // Sets `broken` when the stream holds bytes that cannot begin a value.
  std::optional<std::string> next(bool& broken);

 private:
  std::string buffer_;
};

}  // namespace spdk_sim
