#include "amqp/amqp_request_reply.h"

#include <nlohmann/json.hpp>

#include "model/jsonrpc.h"

namespace {

constexpr int kUnsupportedMethod = -1;
constexpr int kInvalidRequest = -5;
constexpr int kNotHandled = -1;  // a request that never reached a handler

std::string id_text(const nlohmann::json& id) {
  if (id.is_string()) return id.get<std::string>();
  if (id.is_null()) return "";
  return id.dump();
}

// The reply's address: the request's correlation id (else its "id") and
// reply-to queue (else the publish queue); false, with `why`, when one is
// missing.
bool address_reply(AmqpReply& reply, const nlohmann::json& id, std::string* why) {
  if (reply.corrid.empty()) reply.corrid = id_text(id);
  if (!reply.corrid.empty() && !reply.reply_queue.empty()) return true;
  if (why)
    *why = reply.corrid.empty() ? "the request has neither a correlation id nor an id"
                                : "the request names no reply queue and no PublishQueue is configured";
  return false;
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
  if (!address_reply(reply, id, why)) return std::nullopt;
  return reply;
}

std::optional<AmqpReply> refuse_amqp_request(const std::string& body, const std::string& corrid,
                                             const std::string& reply_to,
                                             const std::string& publish_queue,
                                             const std::string& cause, std::string* why) {
  AmqpReply reply{corrid, reply_to.empty() ? publish_queue : reply_to, ""};
  nlohmann::json request = nlohmann::json::parse(body, nullptr, false);
  nlohmann::json id = nullptr;
  if (request.is_object() && request.contains("id") &&
      (request["id"].is_string() || request["id"].is_number()))
    id = request["id"];
  reply.message = make_jsonrpc_error(id, kNotHandled, cause);
  if (!address_reply(reply, id, why)) return std::nullopt;
  return reply;
}
