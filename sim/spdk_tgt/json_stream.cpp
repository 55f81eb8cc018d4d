#include "sim/spdk_tgt/json_stream.h"

#include <cctype>

namespace spdk_sim {

std::optional<std::string> JsonStream::next(bool& broken) {
  broken = false;
  size_t start = 0;
  while (start < buffer_.size() && std::isspace(static_cast<unsigned char>(buffer_[start]))) ++start;
  if (start == buffer_.size()) {
    buffer_.clear();
    return std::nullopt;
  }
  if (buffer_[start] != '{' && buffer_[start] != '[') {
    broken = true;
    return std::nullopt;
  }
  int depth = 0;
  bool in_string = false, escaped = false;
  for (size_t i = start; i < buffer_.size(); ++i) {
    char c = buffer_[i];
    if (in_string) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') in_string = false;
      continue;
    }
    if (c == '"') in_string = true;
    else if (c == '{' || c == '[') ++depth;
    else if (c == '}' || c == ']') {
      if (--depth == 0) {
        std::string value = buffer_.substr(start, i + 1 - start);
        buffer_.erase(0, i + 1);
        return value;
      }
    }
  }
  return std::nullopt;
}

}  // namespace spdk_sim
