#include "platform/host_root.h"

#include <cstdlib>
#include <functional>
#include <mutex>

#include <fmt/format.h>

namespace platform {
namespace {

std::string read_root() {
  const char* env = std::getenv("OMBRIX_ROOT");
  std::string root = env ? env : "";
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (root == "/") root.clear();
  return root;
}

std::mutex root_mutex;
std::string& root_storage() {
  static std::string root = read_root();
  return root;
}

// FNV-1a: stable across processes and builds, unlike std::hash.
uint32_t root_hash(std::string_view root) {
  uint32_t h = 2166136261u;
  for (unsigned char c : root) {
    h ^= c;
    h *= 16777619u;
  }
  return h;
}

}  // namespace

const std::string& host_root() {
  std::lock_guard lock(root_mutex);
  return root_storage();
}

void reload_host_root_for_tests() {
  std::lock_guard lock(root_mutex);
  root_storage() = read_root();
}

std::string host_path(std::string_view real) {
  const std::string& root = host_root();
  if (root.empty() || real.empty() || real.front() != '/') return std::string(real);
  std::string_view rest = real;
  if (rest.size() >= root.size() && rest.substr(0, root.size()) == root &&
      (rest.size() == root.size() || rest[root.size()] == '/'))
    return std::string(real);  // already mapped
  return root + std::string(real);
}

std::string real_path(std::string_view mapped) {
  const std::string& root = host_root();
  if (root.empty() || mapped.size() < root.size() || mapped.substr(0, root.size()) != root)
    return std::string(mapped);
  if (mapped.size() == root.size()) return "/";
  if (mapped[root.size()] != '/') return std::string(mapped);
  return std::string(mapped.substr(root.size()));
}

std::string ipc_name(std::string_view name) {
  std::string plain(name);
  if (plain.empty() || plain.front() != '/') plain.insert(plain.begin(), '/');
  for (size_t i = 1; i < plain.size(); ++i)
    if (plain[i] == '/') plain[i] = '_';
  return plain + ipc_tag(host_root());
}

std::string ipc_tag(std::string_view root) {
  if (root.empty()) return "";
  return fmt::format(".r{:08x}", root_hash(root));
}

int host_port(int port) {
  const std::string& root = host_root();
  if (root.empty()) return port;
  // A port in 20000..31999 chosen by the root (different ports of one root
  // apart): below the range Linux hands out to outgoing connections
  // (32768..60999), where a listener could find its port taken.
  return 20000 + static_cast<int>((root_hash(root) + static_cast<uint32_t>(port) * 7919u) % 12000u);
}

}  // namespace platform
