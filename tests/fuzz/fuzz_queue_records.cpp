// Fuzz target: the records received on the message queues: the daemon's
// records (parse_mq_vm_message), the AMQP daemon's (parse_mq_request) and
// the runtime record of the shared-memory object (parse_runtime_record).
//
// Input: the received text.
//
// Promises: nothing throws; a record that is understood reads back the same
// from its own text (a daemon's record as far as its kind carries members);
// an invalid record says why.
#include <cstdint>
#include <string>

#include "ipc/mq_request.h"
#include "ipc/mq_vm_message.h"
#include "ipc/vm_runtime_record.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_quiet_logs();
  const std::string text(reinterpret_cast<const char*>(data), size);

  mq_vm_message message = parse_mq_vm_message(text);
  if (message.kind == MqVmMessageKind::invalid) {
    FUZZ_CHECK(!message.error.empty(), text);
  } else {
    // As far as its kind carries members: an amqp_request keeps a "status"
    // it was sent with, which its text does not carry.
    const std::string written = mq_vm_message_text(message);
    const std::string rewritten = mq_vm_message_text(parse_mq_vm_message(written));
    FUZZ_CHECK(rewritten == written, text + " -> " + written + " -> " + rewritten);
  }

  std::string error;
  if (std::optional<mq_request> request = parse_mq_request(text, &error)) {
    const std::string written = mq_request_text(*request);
    FUZZ_CHECK(parse_mq_request(written) == request, text + " -> " + written);
  } else {
    FUZZ_CHECK(!error.empty(), text);
  }

  VmRuntimeRecord record = parse_runtime_record(text);
  const std::string written = record.to_text();
  FUZZ_CHECK(parse_runtime_record(written) == record, text + " -> " + written);
  return 0;
}
