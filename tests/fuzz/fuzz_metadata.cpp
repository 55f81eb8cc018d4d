// Fuzz target: the guest metadata protocol (Cloudinit::handle_request), one
// request line after another as the guest sends them.
//
// Input: request lines separated by line feeds, handled in order by one
// Cloudinit object of a sample VM (so a negotiation can precede GET and KEYS).
//
// Promises: every answer is one line (no line feed or carriage return) and is
// "V2_OK", "FAILURE", "invalid command" or a frame whose fields describe its
// body and that carries the request's id; the tag is "NEGOTIATE V2" for a
// negotiation, and empty for anything but a negotiation or a frame.
#include <cstdint>
#include <string>
#include <string_view>

#include "bhwrap/cloudinit/cloudinit.h"
#include "bhwrap/cloudinit/metadata_frame.h"
#include "bhwrap/cloudinit/metadata_protocol.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

const char* const kRecord = R"({
  "id": "vm1", "root_dataset_name": "z05/vm1",
  "guest": {
    "hostname": "h1.example", "kms_host": "", "operator-script": "echo hi",
    "resolver": {"name_server": ["10.0.0.1", "10.0.0.2"], "search": "example"},
    "boot_cmds": ["true"], "run_cmds": ["date"],
    "users": {"root": {"password": "pw", "ssh-authorized-keys": ["ssh-rsa AAA k1", "ssh-ed25519 BBB k2"]},
              "ops": {"password": "", "ssh-authorized-keys": []}}
  },
  "network_ports": [
    {"mac": ["02:00:00:00:00:01"], "slot": 5, "mtu": 9000, "net_link_name": "",
     "ipv4": [{"address": "10.0.0.5", "gateway": "10.0.0.1", "netmask": "255.255.255.0"}], "netmask": 24,
     "ipv6": [{"address": "fd00::5/56", "gateway": "fd00::1"}, {"address": "fd00::6", "gateway": ""}]},
    {"mac": "02:00:00:00:00:02", "slot": 6, "vale_switch_name": "vale1"}
  ]
})";

void check_answer(const std::string& line, const std::string& tag, const std::string& response) {
  FUZZ_CHECK(response.find_first_of("\r\n") == std::string::npos, response);
  const bool negotiation = line.starts_with(kMetadataNegotiate);
  if (negotiation) {
    FUZZ_CHECK(tag == kMetadataNegotiate, tag);
    FUZZ_CHECK(response == kMetadataNegotiated || response == kMetadataFailure, response);
    return;
  }
  if (response == kMetadataInvalid) return;
  FUZZ_CHECK(line.starts_with(kMetadataFramePrefix), "an answer to '" + line + "': " + response);
  std::optional<MetadataFrame> answer = MetadataFrame::parse(response);
  FUZZ_CHECK(answer && MetadataFrame::check(*answer), response);
  std::optional<MetadataFrame> request = MetadataFrame::parse(line);
  FUZZ_CHECK(request, "an answer to an unparsable frame: " + response);
  FUZZ_CHECK(answer->body.request_id == request->body.request_id, response);
  FUZZ_CHECK(answer->body.word == "SUCCESS" || answer->body.word == "NOTFOUND", response);
  FUZZ_CHECK(answer->crc.size() == 8, response);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_quiet_logs();
  static const Cloudinit sample = [] {
    Cloudinit ci("vm1");
    FUZZ_CHECK(ci.from_item(kRecord), "the sample record");
    return ci;
  }();
  Cloudinit ci = sample;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  while (!input.empty()) {
    size_t end = input.find('\n');
    std::string line(input.substr(0, end));
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    auto [tag, response] = ci.handle_request(line);
    check_answer(line, tag, response);
  }
  return 0;
}
