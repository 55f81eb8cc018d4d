// The stand-in libvmmapi: each call is one exchange with the VM's hypervisor
// over the node socket (see sim/include/vmm_sim_protocol.h).
//
// Built twice: as libvmmapi.so.6, and with VMMAPI_BASIC defined as a library
// that lacks the product's extensions (ping, vCPU classes, checkpoints and
// live streams), for testing how the controller copes without them.
#include <vmmapi.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "sim/include/vmm_sim_protocol.h"
#include "sim/libvmmapi/vmm_client.h"

struct vmctx {
  std::string name;
  std::string node;
};

struct vcpu {
  vmctx* ctx;
  int id;
};

namespace {

constexpr int kQuickTimeoutMs = 2000;
// A checkpoint or a live stream takes the hypervisor longer to answer.
constexpr int kLongTimeoutMs = 60000;

const char* const kStatDescriptions[] = {
    "vcpu total runtime (microseconds)",
    "number of VM exits",
};
constexpr int kStatCount = sizeof kStatDescriptions / sizeof kStatDescriptions[0];

int fail(int err) {
  errno = err;
  return -1;
}

int request(vmctx* ctx, const std::string& line, std::string* payload = nullptr,
            int timeout_ms = kQuickTimeoutMs) {
  if (!ctx) return fail(EINVAL);
  return vmm_sim::transact(ctx->node, line, payload, timeout_ms);
}

// A whole decimal number, else nothing.
bool parse_int(const std::string& text, long long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *value = v;
  return true;
}

}  // namespace

extern "C" {

struct vmctx* vm_open(const char* name) {
  if (!name || !vmm_sim::valid_vm_name(name)) {
    errno = EINVAL;
    return nullptr;
  }
  std::string node = vmm_sim::node_path(name);
  struct stat st{};
  if (::stat(node.c_str(), &st) != 0) return nullptr;  // errno from stat (ENOENT)
  return new (std::nothrow) vmctx{name, node};
}

void vm_close(struct vmctx* ctx) { delete ctx; }

int vm_pause(struct vmctx* ctx) { return request(ctx, "PAUSE"); }

int vm_resume(struct vmctx* ctx) { return request(ctx, "RESUME"); }

int vm_reconfig(struct vmctx* ctx, const char* settings) {
  if (!settings) return fail(EINVAL);
  return request(ctx, "RECONFIG " + vmm_sim::escape(settings));
}

int vm_get_config(struct vmctx* ctx, vm_config_cb cb, void* arg) {
  if (!cb) return fail(EINVAL);
  std::string text;
  if (request(ctx, "CONFIG", &text) != 0) return -1;
  for (const auto& [key, value] : vmm_sim::parse_settings(text)) {
    int r = cb(key.c_str(), value.c_str(), arg);
    if (r != 0) return r;
  }
  return 0;
}

struct vcpu* vm_vcpu_open(struct vmctx* ctx, int vcpuid) {
  std::string answer;
  long long count = 0;
  if (request(ctx, "VCPUS", &answer) != 0) return nullptr;
  if (!parse_int(answer, &count)) {
    errno = EPROTO;
    return nullptr;
  }
  if (vcpuid < 0 || vcpuid >= count) {
    errno = EINVAL;
    return nullptr;
  }
  return new (std::nothrow) vcpu{ctx, vcpuid};
}

void vm_vcpu_close(struct vcpu* v) { delete v; }

int vm_get_stats(struct vcpu* v, uint64_t* values, int max_values) {
  if (!v || !values || max_values < 0) return fail(EINVAL);
  std::string answer;
  if (request(v->ctx, fmt::format("STATS {}", v->id), &answer) != 0) return -1;
  int filled = 0;
  size_t pos = 0;
  while (filled < max_values && pos < answer.size()) {
    size_t end = answer.find(' ', pos);
    if (end == std::string::npos) end = answer.size();
    long long value = 0;
    if (!parse_int(answer.substr(pos, end - pos), &value) || value < 0) return fail(EPROTO);
    values[filled++] = static_cast<uint64_t>(value);
    pos = end + 1;
  }
  return filled;
}

const char* vm_get_stat_desc(struct vmctx* ctx, int index) {
  if (!ctx || index < 0 || index >= kStatCount) return nullptr;
  return kStatDescriptions[index];
}

#ifndef VMMAPI_BASIC

int vm_ping(const char* name) {
  if (!name || !vmm_sim::valid_vm_name(name)) return fail(EINVAL);
  std::string node = vmm_sim::node_path(name);
  struct stat st{};
  if (::stat(node.c_str(), &st) != 0) return VM_PING_NO_NODE;
  std::string answer;
  long long state = 0;
  if (vmm_sim::transact(node, "PING", &answer, kQuickTimeoutMs) != 0 ||
      !parse_int(answer, &state) || state < 0)
    return VM_PING_NO_ANSWER;
  return static_cast<int>(state);
}

int vm_get_vcpu_class(struct vmctx* ctx) {
  std::string answer;
  long long value = 0;
  if (request(ctx, "GET_VCPU_CLASS", &answer) != 0) return -1;
  if (!parse_int(answer, &value) || value < VM_VCPU_CLASS_MIN || value > VM_VCPU_CLASS_MAX)
    return fail(EPROTO);
  return static_cast<int>(value);
}

int vm_set_vcpu_class(struct vmctx* ctx, int vcpu_class) {
  if (vcpu_class < VM_VCPU_CLASS_MIN || vcpu_class > VM_VCPU_CLASS_MAX) return fail(EINVAL);
  return request(ctx, fmt::format("SET_VCPU_CLASS {}", vcpu_class));
}

int vm_checkpoint(struct vmctx* ctx, const char* path, int stop) {
  if (!path || !*path) return fail(EINVAL);
  return request(ctx, fmt::format("CHECKPOINT {} {}", stop ? "stop" : "keep", vmm_sim::escape(path)),
                 nullptr, kLongTimeoutMs);
}

int vm_livestream(struct vmctx* ctx, const char* address, uint16_t port) {
  if (!address || !*address || port == 0) return fail(EINVAL);
  std::string host(address);
  if (host.find_first_of(" \n\r") != std::string::npos) return fail(EINVAL);
  return request(ctx, fmt::format("LIVESTREAM {} {}", host, port), nullptr, kLongTimeoutMs);
}

#endif  // VMMAPI_BASIC

}  // extern "C"
