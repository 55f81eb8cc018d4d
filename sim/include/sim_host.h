// The conventions of a simulated host, as the stand-ins see them.
//
// A simulated host lives in the directory named by OMBRIX_ROOT: a fixed host
// path "/x/y" is the file "$OMBRIX_ROOT/x/y". Its POSIX IPC objects carry a
// tag of the root: the name "/n" becomes "/n.r%08x", the hex FNV-1a (32 bit)
// of the root's text (without a trailing '/'), and a '/' inside the name
// becomes '_'. The kernel's setting hw.vmm.features.snapshot_memory_format is
// the whole number in the file /var/run/vmm/features.snapshot_memory_format
// of the host (1 when the file is absent). A well-known TCP port P (the
// storage target's 7000) is 20000 + (H + P * 7919) mod 12000, H the root's
// FNV-1a as above. Without OMBRIX_ROOT, paths, names and ports are used as
// they are.
//
// The root is read on every call, so that one process may follow a changing
// root (tests).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

namespace sim_host {

inline std::string root() {
  const char* env = std::getenv("OMBRIX_ROOT");
  std::string r = env ? env : "";
  while (r.size() > 1 && r.back() == '/') r.pop_back();
  if (r == "/") r.clear();
  return r;
}

// A fixed host path as the stand-in must open it.
inline std::string path(std::string_view real) {
  std::string r = root();
  if (r.empty() || real.empty() || real.front() != '/') return std::string(real);
  if (real.substr(0, r.size()) == r && (real.size() == r.size() || real[r.size()] == '/'))
    return std::string(real);  // already under the root
  return r + std::string(real);
}

inline uint32_t root_hash(std::string_view r) {
  uint32_t h = 2166136261u;
  for (unsigned char c : r) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

// A POSIX IPC name as the stand-in must use it.
inline std::string ipc_name(std::string_view name) {
  std::string plain(name);
  if (plain.empty() || plain.front() != '/') plain.insert(plain.begin(), '/');
  for (size_t i = 1; i < plain.size(); ++i)
    if (plain[i] == '/') plain[i] = '_';
  std::string r = root();
  if (r.empty()) return plain;
  uint32_t h = root_hash(r);
  char tag[16];
  std::snprintf(tag, sizeof tag, ".r%08x", h);
  return plain + tag;
}

// A well-known TCP port as the stand-in must use it.
inline int port(int real_port) {
  std::string r = root();
  if (r.empty()) return real_port;
  return 20000 + static_cast<int>((root_hash(r) + static_cast<uint32_t>(real_port) * 7919u) % 12000u);
}

// hw.vmm.features.snapshot_memory_format; `fallback` when unreadable.
inline long snapshot_memory_format(long fallback = 1) {
  std::ifstream in(path("/var/run/vmm/features.snapshot_memory_format"));
  if (!in) return 1;
  long value = 0;
  if (!(in >> value)) return fallback;
  return value;
}

}  // namespace sim_host
