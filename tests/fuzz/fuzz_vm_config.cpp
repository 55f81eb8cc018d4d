// Fuzz target: the VM record parser (parse_vm_config) and what is made from a
// record text (Commander::make_vm_start, check_netgraph_ports).
//
// Input: the record text.
//
// Promises: nothing throws; a text that parses gives a record whose JSON
// reads back to the same JSON.
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "model/commander.h"
#include "model/vm_config.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_quiet_logs();
  const std::string text(reinterpret_cast<const char*>(data), size);
  VmConfigResult parsed = parse_vm_config(text);
  (void)Commander::make_vm_start(text);
  if (!parsed.error.empty()) return 0;
  (void)check_netgraph_ports(parsed.config);

  nlohmann::json written = parsed.config;
  const std::string written_text = written.dump();
  VmConfigResult again = parse_vm_config(written_text);
  FUZZ_CHECK(again.error.empty(), again.error);
  nlohmann::json rewritten = again.config;
  FUZZ_CHECK(rewritten == written, written_text + " read back as " + rewritten.dump());
  return 0;
}
