#include "bhwrap/cloudinit/cloudinit_channel_filter.h"

namespace {

constexpr char kEsc = 0x1b;

// The end of an escape sequence: a byte from "A" on, compared as a signed
// character (so 0x80..0xff do not end it).
bool ends_escape(char c) { return static_cast<signed char>(c) >= 'A'; }

}  // namespace

void CloudinitLineFilter::append(char c) {
  if (buffer_.size() < limit_) {
    buffer_.push_back(c);
    return;
  }
  if (escape_state_ == 0) {
    overlong_ = true;
    buffer_.clear();
  }
}

void CloudinitLineFilter::feed(std::string_view bytes, const LineSink& sink) {
  for (char c : bytes) {
    if (c == kEsc) {
      escape_state_ = 1;
      buffer_ = "^[";
      overlong_ = false;
    } else if (escape_state_ == 1) {
      append(c);
      if (c == '[') {
        escape_state_ = 2;
      } else if (ends_escape(c)) {
        buffer_.clear();
        escape_state_ = 0;
      }
    } else if (escape_state_ == 2) {
      append(c);
      if (ends_escape(c)) {
        buffer_.clear();
        escape_state_ = 0;
      }
    } else if (c == '\r') {
      // Lines may end in "\r\n".
    } else if (c == '\n') {
      std::optional<std::string> line;
      if (!overlong_) line = std::move(buffer_);
      buffer_.clear();
      overlong_ = false;
      sink(std::move(line));
    } else if (!overlong_) {
      append(c);
    }
  }
}
