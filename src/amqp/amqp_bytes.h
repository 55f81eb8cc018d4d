// Views of our strings as librabbitmq byte ranges, and back.
#pragma once

#include <string>

#include <amqp.h>

inline amqp_bytes_t amqp_view(const std::string& s) {
  amqp_bytes_t b;
  b.len = s.size();
  b.bytes = const_cast<char*>(s.data());
  return b;
}

inline std::string amqp_string(amqp_bytes_t b) {
  return b.len ? std::string(static_cast<const char*>(b.bytes), b.len) : std::string();
}
