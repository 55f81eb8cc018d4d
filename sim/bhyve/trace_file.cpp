#include "sim/bhyve/trace_file.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <fmt/format.h>

#include "sim/include/vmm_sim_protocol.h"

namespace bhyve_sim {

std::string affinity_text() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return "";
  std::string text;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (!CPU_ISSET(cpu, &set)) continue;
    int last = cpu;
    while (last + 1 < CPU_SETSIZE && CPU_ISSET(last + 1, &set)) ++last;
    if (!text.empty()) text += ',';
    text += last == cpu ? fmt::format("{}", cpu) : fmt::format("{}-{}", cpu, last);
    cpu = last;
  }
  return text;
}

bool write_trace(const std::string& dir, const std::vector<std::string>& args, std::string* error) {
  std::error_code ec;
  std::string cwd = std::filesystem::current_path(ec).string();
  errno = 0;
  int nice = ::getpriority(PRIO_PROCESS, 0);

  std::string text = fmt::format("pid={}\ncwd={}\nnice={}\ncpus={}\n", ::getpid(), cwd, nice,
                                 affinity_text());
  for (const auto& arg : args) {
    std::string line = vmm_sim::escape(arg);
    text += "arg=" + line + "\n";
  }

  std::string path = dir + "/" + trace_file_name;
  std::string tmp = path + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "w");
  if (!f) {
    *error = fmt::format("{}: {}", tmp, std::strerror(errno));
    return false;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    *error = fmt::format("{}: {}", path, std::strerror(errno ? errno : EIO));
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace bhyve_sim
