// The record sent to the AMQP daemon's queue: a text to publish on the broker
// (a JSON-RPC reply, a VM event, a guest message), or, with the corrid
// "pool_control", a pool's consumer to start or stop:
//
//   {"corrid", ["corrid_b64",] "reply_queue", "message", "timer"}
//
// ("corrid_b64": the exact bytes of a correlation id that is not UTF-8, see
// json_bytes.h.)
//
// For "pool_control", "reply_queue" is the pool name and "message" the
// command word ("start" or "stop").
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

inline constexpr const char* kPoolControlCorrid = "pool_control";

struct mq_request {
  std::string corrid;       // the broker correlation id
  std::string reply_queue;  // the routing key to publish to
  std::string message;      // the text to publish
  std::string timer;

  bool operator==(const mq_request&) const = default;
};

nlohmann::json mq_request_json(const mq_request& r);
std::string mq_request_text(const mq_request& r);

// The record of a received text; nothing (with `error` set when given) when
// the text is not a JSON object or has neither a corrid nor a message. Never
// throws.
std::optional<mq_request> parse_mq_request(const std::string& text, std::string* error = nullptr);
