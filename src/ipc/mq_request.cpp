#include "ipc/mq_request.h"

#include "ipc/json_bytes.h"
#include "ipc/json_readers.h"

nlohmann::json mq_request_json(const mq_request& r) {
  nlohmann::json j = nlohmann::json::object();
  put_json_bytes(j, "corrid", r.corrid);
  j["reply_queue"] = r.reply_queue;
  j["message"] = r.message;
  j["timer"] = r.timer;
  return j;
}

std::string mq_request_text(const mq_request& r) { return json_compact_text(mq_request_json(r)); }

std::optional<mq_request> parse_mq_request(const std::string& text, std::string* error) {
  std::optional<nlohmann::json> j = json_parse_object(text, error);
  if (!j) return std::nullopt;
  mq_request r;
  r.corrid = json_bytes_or(*j, "corrid", "");
  r.reply_queue = json_string_or(*j, "reply_queue", "");
  r.message = json_document_or(*j, "message", "");
  r.timer = json_string_or(*j, "timer", "");
  if (r.corrid.empty() && r.message.empty()) {
    if (error) *error = "request record without a corrid and a message";
    return std::nullopt;
  }
  return r;
}
