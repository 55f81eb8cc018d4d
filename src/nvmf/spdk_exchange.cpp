#include "nvmf/spdk_exchange.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>

#include <nlohmann/json.hpp>

#include "nvmf/answer_text.h"
#include "nvmf/spdk_endpoint.h"

namespace nvmf {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadSize = 65536;
std::atomic<int> answer_wait_ms{5000};
std::atomic<size_t> answer_limit{default_spdk_answer_limit};

// Readable before `deadline`.
bool readable_before(int fd, Clock::time_point deadline) {
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    int rc = ::poll(&p, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    if (rc == 1) return true;
    if (rc == 0 || errno != EINTR) return false;
  }
}

std::string id_text(const nlohmann::json& id) { return compact(id); }

}  // namespace

void set_spdk_answer_wait(std::chrono::milliseconds wait) { answer_wait_ms = static_cast<int>(wait.count()); }

void set_spdk_answer_limit(size_t bytes) { answer_limit = bytes; }

bool check_answer_id(const std::string& request, const std::string& answer, std::string& error) {
  nlohmann::json sent, got;
  try {
    sent = nlohmann::json::parse(request);
    got = nlohmann::json::parse(answer);
  } catch (const nlohmann::json::exception&) {
    return true;
  }
  if (!sent.is_object() || !got.is_object() || !sent.contains("id") || !got.contains("id")) return true;
  if (got["id"].is_null() || got["id"] == sent["id"]) return true;
  std::string method = sent.contains("method") && sent["method"].is_string() ? sent["method"].get<std::string>()
                                                                             : "unknown";
  error = "SPDK answer belongs to another request: sent id " + id_text(sent["id"]) + ", got id " +
          id_text(got["id"]) + " (method " + method + "). Connection was out of sync and has been closed.";
  return false;
}

bool spdk_rpc_exchange(SpdkConnections& connections, const std::string& request, std::string& answer,
                       const std::string& host) {
  // One deadline for the whole exchange, connect included: a target that
  // trickles its answer cannot hold the thread longer than that.
  std::chrono::milliseconds wait(answer_wait_ms.load());
  Clock::time_point deadline = Clock::now() + wait;
  std::string key = spdk_host_key(host);
  int fd = spdk_connect(connections, key, wait);
  if (fd < 0) {
    answer = error_object("Error connect to socket!");
    return false;
  }
  auto fail = [&](const std::string& message) {
    answer = error_object(message);
    spdk_drop_connection(connections, fd, key);
    return false;
  };

  ssize_t sent = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent != static_cast<ssize_t>(request.size())) return fail("Error send JSON-RPC to socket!");

  answer.clear();
  if (!readable_before(fd, deadline)) return fail("SPDK not answer! Timeout (5 sec) expired.");
  const char* incomplete = "SPDK answer is incomplete! Timeout (5 sec) expired.";
  size_t limit = answer_limit.load();
  std::string buffer(kReadSize, '\0');
  for (;;) {
    if (!readable_before(fd, deadline)) {
      if (nlohmann::json::accept(answer)) break;
      return fail(incomplete);
    }
    ssize_t n;
    do {
      n = ::read(fd, buffer.data(), kReadSize);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return fail("SPDK not answer! Try check running 'spdk_tgt'.");
    // An answer larger than any the target gives is never complete.
    if (answer.size() + static_cast<size_t>(n) > limit) return fail(incomplete);
    answer.append(buffer.data(), static_cast<size_t>(n));
    if (static_cast<size_t>(n) == kReadSize) continue;
    if (nlohmann::json::accept(answer)) break;
  }

  std::string mismatch;
  if (!check_answer_id(request, answer, mismatch)) return fail(mismatch);
  return true;
}

}  // namespace nvmf
