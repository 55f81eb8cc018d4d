#include "sim/libzfs/handles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "sim/libzfs/labels.h"

#include <cstdio>

libzfs_handle::~libzfs_handle() {
  for (const auto& [path, fd] : held) ::close(fd);
}

namespace zfs_sim {

void hold_members(const libzfs_handle* hdl, const std::vector<std::string>& members) {
  std::set<std::string> wanted(members.begin(), members.end());
  for (auto it = hdl->held.begin(); it != hdl->held.end();) {
    if (wanted.count(it->first)) {
      ++it;
      continue;
    }
    ::close(it->second);
    it = hdl->held.erase(it);
  }
  for (const std::string& path : wanted) {
    if (path.empty() || hdl->held.count(path)) continue;
    std::string file = device_file(hdl->root, path);
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) continue;
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | (S_ISBLK(st.st_mode) ? O_EXCL : 0));
    if (fd < 0) continue;
    if (S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      continue;
    }
    hdl->held[path] = fd;
  }
}

int record(libzfs_handle* hdl, const std::string& action, const Failure& failure) {
  if (!hdl) return -1;
  hdl->error = failure.code;
  hdl->description = failure.text.empty() ? error_text(failure.code) : failure.text;
  if (hdl->print) std::fprintf(stderr, "%s: %s\n", action.c_str(), hdl->description.c_str());
  return -1;
}

int unsupported(libzfs_handle* hdl, const char* function) {
  return record(hdl, function, Failure{EZFS_NOTSUP, error_text(EZFS_NOTSUP)});
}

}  // namespace zfs_sim
