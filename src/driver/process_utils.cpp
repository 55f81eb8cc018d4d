#include "driver/process_utils.h"

#include <filesystem>
#include <optional>

#include "platform/host_root.h"
#include "platform/process_table.h"
#include "platform/process_title.h"

namespace {

// Where a host keeps the program's configuration file, relative to its "/".
constexpr const char* kHostConfigFile = "usr/local/etc/ombrix-vm.config";

bool within(const std::string& path, const std::string& dir) {
  return path == dir || (path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
                         path[dir.size()] == '/');
}

// The VM id of a bhyve process of the table, nothing for any other process.
std::optional<std::string> bhyve_vm_id(const platform::ProcessInfo& p) {
  static const std::string title_prefix = "bhyve: ";
  if (p.args.size() == 1 && p.title.size() > title_prefix.size() &&
      p.title.compare(0, title_prefix.size(), title_prefix) == 0)
    return p.title.substr(title_prefix.size());
  if (p.args.size() >= 2 &&
      (p.args[0] == bhyve_program || p.args[0] == platform::host_path(bhyve_program)) &&
      !p.args.back().empty() && p.args.back().front() != '-')
    return p.args.back();
  return std::nullopt;
}

// True when `dir` lies inside a simulated host: a directory other than "/"
// laid out as a host, holding the program's configuration file where a host
// keeps it.
bool inside_simulated_host(std::filesystem::path dir) {
  std::error_code ec;
  for (; !dir.empty() && dir != dir.root_path(); dir = dir.parent_path())
    if (std::filesystem::exists(dir / kHostConfigFile, ec)) return true;
  return false;
}

}  // namespace

void set_process_title(const std::string& text) { platform::set_process_title(text); }

bool process_belongs_to_host(pid_t pid) {
  const std::string& root = platform::host_root();
  if (root.empty()) {
    // The real host: what runs inside a simulated host is that host's.
    std::string cwd = platform::process_cwd(pid);
    return cwd.empty() || cwd.front() != '/' || !inside_simulated_host(cwd);
  }
  std::string cwd = platform::process_cwd(pid);
  if (cwd.empty()) return false;
  if (within(cwd, root)) return true;
  std::error_code ec;
  std::string canonical = std::filesystem::weakly_canonical(root, ec).string();
  return !ec && within(cwd, canonical);
}

std::vector<int32_t> find_titled_processes(const std::string& title) {
  std::vector<int32_t> pids;
  for (const auto& p : platform::list_processes())
    if (p.title == title && process_belongs_to_host(p.pid)) pids.push_back(p.pid);
  return pids;
}

std::map<std::string, int32_t> find_bhyve_processes() {
  std::map<std::string, int32_t> found;
  for (const auto& p : platform::list_processes()) {
    auto vm_id = bhyve_vm_id(p);
    if (vm_id && process_belongs_to_host(p.pid)) found.emplace(*vm_id, p.pid);
  }
  return found;
}

ProcessPair find_wrapper_processes(const std::string& vm_id) {
  ProcessPair pair;
  if (vm_id.empty()) return pair;
  const std::string local = wrapper_title_prefix + vm_id;
  const std::string remote = local + "-r";
  for (const auto& p : platform::list_processes()) {
    if (!pair.wrapper && (p.title == local || p.title == remote) && process_belongs_to_host(p.pid))
      pair.wrapper = p.pid;
    if (!pair.bhyve && bhyve_vm_id(p) == vm_id && process_belongs_to_host(p.pid)) pair.bhyve = p.pid;
  }
  return pair;
}
