#include "nvmf/rpc_request.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>

namespace nvmf {
namespace {

std::atomic<uint32_t> counter{0};
std::atomic<pid_t> seeded_for{0};

uint32_t seed(pid_t pid) {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  uint64_t ns = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
  return (static_cast<uint32_t>(ns) ^ (static_cast<uint32_t>(pid) * 0x1E3779B1u)) & 0x7FFFFFFFu;
}

}  // namespace

nlohmann::json make_rpc_request() {
  pid_t pid = ::getpid();
  if (seeded_for.exchange(pid) != pid) counter.store(seed(pid));
  uint32_t id = counter.fetch_add(1) & 0x7FFFFFFFu;
  return {{"jsonrpc", "2.0"}, {"id", id}};
}

}  // namespace nvmf
