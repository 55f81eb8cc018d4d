#include "platform/cpu_set.h"

#include <dirent.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include <fmt/format.h>

#include "platform/host_root.h"

namespace platform {
namespace {

bool parse_int(const std::string& text, int& out) {
  if (text.empty() || text.size() > 9) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  out = v;
  return true;
}

// The CPUs of a kernel CPU list ("0-3,8,10-11"); nothing when it is malformed.
std::optional<std::set<int>> parse_cpu_list(const std::string& text) {
  std::set<int> cpus;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t comma = text.find(',', pos);
    std::string item = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    pos = comma == std::string::npos ? text.size() : comma + 1;
    if (item.empty()) continue;
    size_t dash = item.find('-');
    int lo = 0, hi = 0;
    if (dash == std::string::npos) {
      if (!parse_int(item, lo)) return std::nullopt;
      hi = lo;
    } else if (!parse_int(item.substr(0, dash), lo) || !parse_int(item.substr(dash + 1), hi) ||
               hi < lo || hi >= CPU_SETSIZE) {
      return std::nullopt;
    }
    for (int c = lo; c <= hi; ++c) cpus.insert(c);
  }
  return cpus;
}

std::string read_trimmed(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\r'))
    text.pop_back();
  return text;
}

bool is_node_name(const std::string& name) {
  if (name.size() <= 4 || name.compare(0, 4, "node") != 0) return false;
  int unused;
  return parse_int(name.substr(4), unused);
}

}  // namespace

std::vector<std::vector<int>> memory_domain_cpus() {
  std::map<int, std::vector<int>> by_first_cpu;
  std::error_code ec;
  std::filesystem::directory_iterator it(host_path("/sys/devices/system/node"), ec);
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (!is_node_name(it->path().filename().string())) continue;
    auto cpus = parse_cpu_list(read_trimmed(it->path() / "cpulist"));
    if (!cpus || cpus->empty()) continue;
    by_first_cpu[*cpus->begin()] = std::vector<int>(cpus->begin(), cpus->end());
  }
  std::vector<std::vector<int>> domains;
  for (auto& [first, cpus] : by_first_cpu) domains.push_back(std::move(cpus));
  if (domains.empty()) {
    long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    std::vector<int> all(online > 0 ? static_cast<size_t>(online) : 1);
    for (size_t c = 0; c < all.size(); ++c) all[c] = static_cast<int>(c);
    domains.push_back(std::move(all));
  }
  return domains;
}

std::map<int, int> memory_domains() {
  std::map<int, int> domains;
  for (const auto& cpus : memory_domain_cpus())
    domains[cpus.front()] = static_cast<int>(cpus.size());
  return domains;
}

bool bind_process_cpus(pid_t pid, const std::vector<int>& cpus, std::string* error) {
  auto fail = [&](std::string text) {
    if (error) *error = std::move(text);
    return false;
  };
  if (pid <= 0) return fail(fmt::format("bad process id {}", pid));
  if (cpus.empty()) return fail("empty CPU set");

  cpu_set_t set;
  CPU_ZERO(&set);
  for (int c : cpus) {
    if (c < 0 || c >= CPU_SETSIZE) return fail(fmt::format("bad CPU number {}", c));
    CPU_SET(c, &set);
  }

  // The affinity of a Linux process is per thread: bind each of them.
  std::string task_dir = fmt::format("/proc/{}/task", pid);
  DIR* dir = ::opendir(task_dir.c_str());
  if (!dir) return fail(fmt::format("process {}: {}", pid, std::strerror(errno)));
  int bound = 0;
  std::string last_error;
  while (dirent* entry = ::readdir(dir)) {
    int tid;
    if (!parse_int(entry->d_name, tid)) continue;
    if (::sched_setaffinity(tid, sizeof set, &set) == 0) {
      ++bound;
    } else if (errno != ESRCH) {
      last_error = fmt::format("thread {} of process {}: {}", tid, pid, std::strerror(errno));
    }
  }
  ::closedir(dir);
  if (!last_error.empty()) return fail(last_error);
  if (bound == 0) return fail(fmt::format("process {}: {}", pid, std::strerror(ESRCH)));
  return true;
}

}  // namespace platform
