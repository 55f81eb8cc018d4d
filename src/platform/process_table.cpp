#include "platform/process_table.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fstream>
#include <sstream>

#include <fmt/format.h>

namespace platform {
namespace {

bool parse_pid(const char* text, pid_t& out) {
  if (!text || !*text) return false;
  long v = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9' || v > INT_MAX / 10) return false;
    v = v * 10 + (*p - '0');
  }
  out = static_cast<pid_t>(v);
  return v > 0;
}

std::string read_whole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct StatFields {
  char state = 0;
  pid_t ppid = 0;
};

// "pid (comm) S ppid ...": the name may hold spaces and parentheses, so the
// fields start after the last ')'.
bool read_stat(pid_t pid, StatFields& out) {
  std::string stat = read_whole(fmt::format("/proc/{}/stat", pid));
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream fields(stat.substr(close + 1));
  long ppid = 0;
  if (!(fields >> out.state >> ppid)) return false;
  out.ppid = static_cast<pid_t>(ppid);
  return true;
}

std::vector<std::string> split_cmdline(const std::string& raw) {
  std::vector<std::string> args;
  size_t pos = 0;
  while (pos < raw.size()) {
    size_t nul = raw.find('\0', pos);
    if (nul == std::string::npos) nul = raw.size();
    args.push_back(raw.substr(pos, nul - pos));
    pos = nul + 1;
  }
  while (!args.empty() && args.back().empty()) args.pop_back();
  return args;
}

}  // namespace

ProcessInfo process_info(pid_t pid) {
  ProcessInfo info;
  StatFields stat;
  if (pid <= 0 || !read_stat(pid, stat) || stat.state == 'Z' || stat.state == 'X') return info;
  info.args = split_cmdline(read_whole(fmt::format("/proc/{}/cmdline", pid)));
  if (info.args.empty()) return info;
  info.pid = pid;
  info.ppid = stat.ppid;
  for (size_t i = 0; i < info.args.size(); ++i) {
    if (i) info.title += ' ';
    info.title += info.args[i];
  }
  return info;
}

std::vector<ProcessInfo> list_processes() {
  std::vector<pid_t> pids;
  if (DIR* dir = ::opendir("/proc")) {
    while (dirent* entry = ::readdir(dir)) {
      pid_t pid;
      if (parse_pid(entry->d_name, pid)) pids.push_back(pid);
    }
    ::closedir(dir);
  }
  std::sort(pids.begin(), pids.end());
  std::vector<ProcessInfo> table;
  for (pid_t pid : pids) {
    ProcessInfo info = process_info(pid);
    if (info.pid) table.push_back(std::move(info));
  }
  return table;
}

bool process_alive(pid_t pid) {
  if (pid <= 0) return false;
  if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
  StatFields stat;
  if (!read_stat(pid, stat)) return false;
  return stat.state != 'Z' && stat.state != 'X';
}

std::string process_cwd(pid_t pid) {
  char buf[PATH_MAX];
  std::string link = fmt::format("/proc/{}/cwd", pid);
  ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<size_t>(n));
}

}  // namespace platform
