// The daemon's answer to a broker request forwarded as an "amqp_request"
// record: "host-inventory" is answered with the host inventory (result code 1,
// data as make_jsonrpc_pool_reply gives it); every other method with the
// JSON-RPC error -1 "Unsupported method" naming the method; a body that is not
// a JSON-RPC request (not JSON, no "id" or no "method") with the error -5
// saying why. The reply goes to the request's reply-to queue, or to the
// configured publish queue when it named none, under the request's
// correlation id (the request's "id" when the message carried none).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "model/host_inventory.h"

struct AmqpReply {
  std::string corrid;
  std::string reply_queue;
  std::string message;
};

using HostInventorySource = std::function<host_inventory()>;

// Nothing when there is nowhere to send the answer (`why` says so).
std::optional<AmqpReply> answer_amqp_request(const std::string& body, const std::string& corrid,
                                             const std::string& reply_to,
                                             const std::string& publish_queue,
                                             const HostInventorySource& inventory,
                                             std::string* why = nullptr);

// The answer to a request that cannot be handled at all (an empty body, or a
// request the daemon's queue cannot take): the JSON-RPC error -1 with `cause`
// as its message, under the request's "id" when the body carries one. Sent
// and addressed as answer_amqp_request's replies; nothing when there is
// nowhere to send it (`why` says so).
std::optional<AmqpReply> refuse_amqp_request(const std::string& body, const std::string& corrid,
                                             const std::string& reply_to,
                                             const std::string& publish_queue,
                                             const std::string& cause, std::string* why = nullptr);
