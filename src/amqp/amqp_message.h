// A message as the broker delivers or returns it, and what is published.
#pragma once

#include <cstdint>
#include <string>

struct AmqpMessage {
  std::string body;
  std::string content_type;
  std::string correlation_id;  // "" when the message has none
  std::string reply_to;        // "" when the message has none
  std::string exchange;
  std::string routing_key;
  std::string consumer_tag;    // deliveries
  uint64_t delivery_tag = 0;   // deliveries
  uint16_t reply_code = 0;     // returned messages
  std::string reply_text;      // returned messages
};
