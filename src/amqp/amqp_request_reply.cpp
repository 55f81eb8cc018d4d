#include "amqp/amqp_request_reply.h"

#include <nlohmann/json.hpp>

#include "model/jsonrpc.h"

namespace {

constexpr int kUnsupportedMethod = -1;
constexpr int kInvalidRequest = -5;

std::string id_text(const nlohmann::json& id) {
  if (id.is_string()) return id.get<std::string>();
  if (id.is_null()) return "";
  return id.dump();
}

}  // namespace

std::optional<AmqpReply> answer_amqp_request(const std::string& body, const std::string& corrid,
                                             const std::string& reply_to,
                                             const std::string& publish_queue,
                                             const HostInventorySource& inventory,
                                             std::string* why) {
  AmqpReply reply{corrid, reply_to.empty() ? publish_queue : reply_to, ""};
  nlohmann::json request = nlohmann::json::parse(body, nullptr, false);
  nlohmann::json id = nullptr;
  std::string method;
  if (request.is_discarded() || !request.is_object()) {
    reply.message = make_jsonrpc_error(nullptr, kInvalidRequest, "The request is not a JSON object");
  } else {
    if (request.contains("id")) id = request["id"];
    if (request.contains("method") && request["method"].is_string())
      method = request["method"].get<std::string>();
    if (id.is_null() || (!id.is_string() && !id.is_number()))
      reply.message = make_jsonrpc_error(nullptr, kInvalidRequest, "The request has no id", method);
    else if (method.empty())
      reply.message = make_jsonrpc_error(id, kInvalidRequest, "The request has no method");
    else if (method == "host-inventory")
      reply.message = make_jsonrpc_reply(id, 1, make_jsonrpc_pool_reply(inventory()));
    else
      reply.message = make_jsonrpc_error(id, kUnsupportedMethod, "Unsupported method", method);
  }
  if (reply.corrid.empty()) reply.corrid = id_text(id);
  if (reply.corrid.empty() || reply.reply_queue.empty()) {
    if (why)
      *why = reply.corrid.empty() ? "the request has neither a correlation id nor an id"
                                  : "the request names no reply queue and no PublishQueue is configured";
    return std::nullopt;
  }
  return reply;
}
