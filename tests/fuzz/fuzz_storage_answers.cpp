// Fuzz target: the answers of the storage target (nvmf_target_manager, on the
// calling thread's cached connection) and of the initiator service
// (nvmf_initiator_manager, on its Unix socket), served by a scripted peer.
//
// Input: the first byte picks the operation, the rest is the script, one
// answer per line (an empty line closes the connection instead).
//
// Promises: an operation reports success only when every answer it relied on
// was a success (a JSON object without "error", answering the request's id);
// a share or a look-up hands on the subsystem's NQN and a port, and a share
// applies only a port of 1 to 65535 that a listener was given (or the port of
// a new share); a device, a controller count or a presence comes from a successful
// answer that holds it.
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "nvmf/nvmf_initiator_manager.h"
#include "nvmf/nvmf_names.h"
#include "nvmf/nvmf_share.h"
#include "nvmf/nvmf_target_manager.h"
#include "nvmf/spdk_connections.h"
#include "nvmf/spdk_endpoint.h"
#include "nvmf/spdk_exchange.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using nlohmann::json;
using Exchanges = std::vector<FuzzScriptedPeer::Exchange>;

constexpr const char* kHost = "127.0.0.1";
constexpr const char* kVolume = "tank/vms/7/disk0";

// A successful JSON-RPC answer to `request`, read independently of the client.
bool success(const FuzzScriptedPeer::Exchange& e) {
  json answer = json::parse(e.answer, nullptr, false);
  if (!answer.is_object() || answer.contains("error")) return false;
  json request = json::parse(e.request, nullptr, false);
  return !answer.contains("id") || answer["id"].is_null() || answer["id"] == request.value("id", json());
}

bool all_succeeded(const Exchanges& exchanges, size_t from = 0) {
  for (size_t i = from; i < exchanges.size(); ++i)
    if (!success(exchanges[i])) return false;
  return true;
}

// A share or look-up answer: the volume's subsystem and a port.
void check_share_answer(const std::string& answer, const std::string& what) {
  json parsed = json::parse(answer, nullptr, false);
  FUZZ_CHECK(parsed.is_object() && parsed.value("nqn", json()) == nvmf::subsystem_nqn_from_path(kVolume),
             what + " answer " + answer);
  FUZZ_CHECK(parsed.contains("port"), what + " answer " + answer);
}

// Whether some answer gave `port` as a listener's "trsvcid": a number, or a
// text whose leading digits are the number (the answers' documented reading).
bool port_was_given(const Exchanges& exchanges, uint32_t port) {
  const std::string digits = std::to_string(port);
  for (const auto& e : exchanges) {
    json answer = json::parse(e.answer, nullptr, false);
    for (const auto& sub : answer.is_object() ? answer.value("result", json::array()) : json::array())
      for (const auto& listener : sub.is_object() ? sub.value("listen_addresses", json::array()) : json::array()) {
        json given = listener.is_object() ? listener.value("trsvcid", json()) : json();
        std::string text = given.is_string() ? given.get<std::string>() : given.dump();
        text = text.substr(0, text.find_first_not_of("0123456789"));
        if (!text.empty() && text.substr(std::min(text.find_first_not_of('0'), text.size() - 1)) == digits) return true;
      }
  }
  return false;
}

std::string script_text(const Exchanges& exchanges) {
  std::string text;
  for (const auto& e : exchanges) text += e.request + " => " + e.answer + "\n";
  return text;
}

void target_operation(uint8_t op, const std::vector<std::string>& answers) {
  int pair[2];
  FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0, "socketpair");
  nvmf::spdk_connections().put(nvmf::spdk_host_key(kHost), pair[0]);
  FuzzScriptedPeer peer(pair[1], -1, answers);
  nvmf::nvmf_target_manager manager("", "");
  std::string answer;
  const std::string nqn = nvmf::subsystem_nqn_from_path(kVolume);
  bool ok = false;
  int32_t count = -1;
  share_result shared;
  switch (op % 6) {
    case 0: ok = manager.share_volume(kVolume, kHost, 4096, answer, op & 8 ? "nqn.2014-08.org.host:a" : ""); break;
    case 1: ok = manager.unshare_volume(kVolume, kHost, answer, ""); break;
    case 2: ok = manager.find_shared_subsystem(kVolume, kHost, answer, ""); break;
    case 3: count = manager.count_controllers(nqn, answer, kHost); break;
    case 4: ok = manager.check_subsystem(nqn, answer, kHost); break;
    case 5: shared = nvmf::share_nqn(kHost, kVolume, 4096, ""); break;
  }
  nvmf::drop_host_connection(kHost);
  const Exchanges& exchanges = peer.finish();
  const std::string seen = script_text(exchanges) + "-> " + answer;
  switch (op % 6) {
    case 0:
      if (!ok) break;
      // The block device may exist already ("File exists"); everything else succeeded.
      FUZZ_CHECK(!exchanges.empty() && all_succeeded(exchanges, 1), seen);
      FUZZ_CHECK(success(exchanges[0]) || exchanges[0].answer.find("File exists") != std::string::npos, seen);
      check_share_answer(answer, "share");
      break;
    case 1:
      // Removing the listener is best effort; the subsystem and the block device are gone.
      if (ok) FUZZ_CHECK(exchanges.size() == 3 && all_succeeded(exchanges, 1), seen);
      break;
    case 2:
      if (!ok) break;
      FUZZ_CHECK(exchanges.size() == 1 && success(exchanges[0]), seen);
      check_share_answer(answer, "look-up");
      break;
    case 3:
      if (count < 0) break;
      FUZZ_CHECK(exchanges.size() == 1 && success(exchanges[0]), seen);
      FUZZ_CHECK(json::parse(exchanges[0].answer)["result"].size() == static_cast<size_t>(count), seen);
      break;
    case 4:
      if (ok) FUZZ_CHECK(exchanges.size() == 1 && success(exchanges[0]), seen);
      break;
    case 5:
      // The port applied is one a listener was given, or the one a new share listens on.
      if (shared.port != 0)
        FUZZ_CHECK(shared.port == 4420 || port_was_given(exchanges, shared.port),
                   seen + fmt::format(" => port {}", shared.port));
      break;
  }
}

// The initiator service's socket under the host root, listening.
int initiator_listener() {
  static int listener = [] {
    fuzz_host_root();
    const std::string path = platform::host_path("/var/run/ombrix_nvmf_initiator.sock");
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    FUZZ_CHECK(fd >= 0 && path.size() < sizeof sa.sun_path, path);
    path.copy(sa.sun_path, path.size());
    FUZZ_CHECK(::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 && ::listen(fd, 4) == 0, path);
    return fd;
  }();
  return listener;
}

void initiator_operation(uint8_t op, const std::vector<std::string>& answers) {
  // One request per operation: only the first answer is served.
  FuzzScriptedPeer peer(-1, initiator_listener(), {answers.front()});
  nvmf::nvmf_initiator_manager manager;
  std::string answer, device;
  bool ok = false;
  switch (op % 3) {
    case 0: device = manager.create("nqn.2023-08.io.ombrix:7.disk0", "10.1.2.3", answer, ""); break;
    case 1: ok = manager.destroy("nqn.2023-08.io.ombrix:7.disk0", "10.1.2.3", answer); break;
    case 2: ok = manager.list(answer); break;
  }
  const Exchanges& exchanges = peer.finish();
  const std::string seen = script_text(exchanges) + "-> " + answer;
  if (ok || !device.empty()) FUZZ_CHECK(exchanges.size() == 1 && success(exchanges[0]), seen);
  if (!device.empty()) {
    json result = json::parse(exchanges[0].answer).value("result", json());
    FUZZ_CHECK(result.is_object() && result.value("dev", json()) == device, seen);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_quiet_logs();
  static const bool waits_set = [] {
    fuzz_host_root();  // no path of this host is looked at
    // Not an address: a connection dropped after a failure is never made
    // again over the network, only the scripted one is used.
    nvmf::set_spdk_address("scripted-target");
    // An exchange whose answer never completes costs this wait; answers
    // longer than the limit are cut short.
    nvmf::set_spdk_answer_wait(std::chrono::milliseconds(200));
    nvmf::set_spdk_answer_limit(4096);
    nvmf::set_initiator_answer_wait(std::chrono::milliseconds(2000));
    return true;
  }();
  (void)waits_set;
  if (size < 1) return 0;
  const uint8_t op = data[0];
  const std::vector<std::string> answers =
      fuzz_split(std::string(reinterpret_cast<const char*>(data) + 1, size - 1), "\n");
  if (op & 0x80)
    initiator_operation(op, answers);
  else
    target_operation(op, answers);
  return 0;
}
