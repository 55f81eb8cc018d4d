// The input side of the cloud-init channel: collects request lines from the
// bytes the guest sends, dropping carriage returns and terminal escape
// sequences (ESC, optionally "[", up to the first byte from "A" on; whatever
// was collected before the ESC goes with it).
//
// A line longer than the limit is not kept: it is reported as overlong when
// its line feed arrives, so the guest still gets one answer per line and the
// buffer never grows past the limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

class CloudinitLineFilter {
 public:
  static constexpr size_t kDefaultLineLimit = 16 * 1024;

  explicit CloudinitLineFilter(size_t line_limit = kDefaultLineLimit) : limit_(line_limit) {}

  // Called per completed line: the line without its line feed, or nothing for
  // a line that ran past the limit.
  using LineSink = std::function<void(std::optional<std::string> line)>;

  void feed(std::string_view bytes, const LineSink& sink);

  // The part of a line collected so far (escape sequences included while they
  // run).
  const std::string& pending() const { return buffer_; }
  int32_t escape_state() const { return escape_state_; }

 private:
  void append(char c);

  size_t limit_;
  std::string buffer_;
  int32_t escape_state_ = 0;  // 0 normal, 1 after ESC, 2 after ESC and "["
  bool overlong_ = false;
};
