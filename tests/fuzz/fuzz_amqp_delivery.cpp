// Fuzz target: a broker delivery as the AMQP daemon hands it on
// (AmqpMqCallback: the "amqp_request" record on the daemon's queue, or for an
// empty body its own refusal, refuse_amqp_request), the daemon's answer to it
// (answer_amqp_request) and the reply record back to the AMQP daemon
// (mq_request).
//
// Input: one byte each for the lengths of the correlation id and of the
// reply-to (AMQP short strings: at most 255 bytes), those two, then the body.
//
// Promises: the record the daemon reads back carries the body, the
// correlation id and the reply-to as delivered (an empty request is answered
// without a record); the answer goes under that
// correlation id (the request's id when there was none) to the reply-to (the
// publish queue when there was none); the reply record reads back as written.
#include <cstdint>
#include <string>

#include "amqp/amqp_request_reply.h"
#include "ipc/mq_request.h"
#include "ipc/mq_vm_message.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

constexpr const char* kPublishQueue = "ombrix.replies";

std::string shown(const std::string& body, const std::string& corrid, const std::string& reply_to) {
  return nlohmann::json({{"body", nlohmann::json::binary({body.begin(), body.end()})},
                         {"corrid", nlohmann::json::binary({corrid.begin(), corrid.end()})},
                         {"reply_to", nlohmann::json::binary({reply_to.begin(), reply_to.end()})}})
      .dump();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_quiet_logs();
  if (size < 2) return 0;
  const size_t corrid_size = data[0], reply_to_size = data[1];
  if (size < 2 + corrid_size + reply_to_size) return 0;
  const char* text = reinterpret_cast<const char*>(data) + 2;
  const std::string corrid(text, corrid_size);
  const std::string reply_to(text + corrid_size, reply_to_size);
  const std::string body(text + corrid_size + reply_to_size, size - 2 - corrid_size - reply_to_size);
  const std::string delivered = shown(body, corrid, reply_to);

  std::string why;
  std::optional<AmqpReply> reply;
  if (body.empty()) {
    // An empty request goes to no record: the AMQP daemon answers it itself.
    reply = refuse_amqp_request(body, corrid, reply_to, kPublishQueue, "The request is empty", &why);
  } else {
    // The daemon's side of its queue.
    const std::string record_text = mq_vm_message_text(make_amqp_request_message(body, corrid, reply_to));
    const mq_vm_message record = parse_mq_vm_message(record_text);
    FUZZ_CHECK(record.kind == MqVmMessageKind::amqp_request, delivered + " -> " + record.error);
    FUZZ_CHECK(record.message == body && record.corrid == corrid && record.reply_queue == reply_to,
               delivered + " read back as " + shown(record.message, record.corrid, record.reply_queue));
    reply = answer_amqp_request(record.message, record.corrid, record.reply_queue, kPublishQueue,
                                [] { return host_inventory{}; }, &why);
  }
  if (!reply) {
    // Only a request with nothing to answer under.
    FUZZ_CHECK(corrid.empty() && !why.empty(), delivered + ": " + why);
    return 0;
  }
  if (!corrid.empty()) FUZZ_CHECK(reply->corrid == corrid, delivered + " answered as " + reply->corrid);
  FUZZ_CHECK(reply->reply_queue == (reply_to.empty() ? kPublishQueue : reply_to), delivered);
  FUZZ_CHECK(nlohmann::json::accept(reply->message), delivered + " answered with " + reply->message);

  // The AMQP daemon's side of its queue.
  const mq_request sent{reply->corrid, reply->reply_queue, reply->message, ""};
  const std::string sent_text = mq_request_text(sent);
  std::string error;
  std::optional<mq_request> received = parse_mq_request(sent_text, &error);
  FUZZ_CHECK(received.has_value(), delivered + ": " + error);
  FUZZ_CHECK(*received == sent, delivered + ": reply record " + sent_text);
  return 0;
}
