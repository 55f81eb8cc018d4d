#include "model/vm_state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "driver/config.h"
#include "ipc/atomic_file.h"
#include "ipc/regular_file.h"
#include "ipc/unique_fd.h"
#include "model/state_mark.h"
#include "model/state_sem.h"
#include "platform/host_root.h"

namespace {

// Reads a whole regular file (never through a link of its own, never waiting
// on a FIFO); on failure `error` says why and errno is kept.
bool read_file(const std::string& path, std::string& out, std::string& error) {
  UniqueFd fd = open_regular_file(path, O_RDONLY, 0, error);
  if (!fd) return false;
  out.clear();
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      return false;
    }
    out.append(buf, static_cast<size_t>(n));
  }
}

struct LinkTarget {
  std::string path;  // mapped path of the target
  VmStateCode code = VmStateCode::ok;
  std::string error;
};

// Where the state link points, as this process must open it.
LinkTarget resolve_link(const std::string& mapped_link, const std::string& mapped_dir) {
  LinkTarget t;
  struct stat st {};
  if (::lstat(mapped_link.c_str(), &st) != 0) {
    t.code = errno == ENOENT ? VmStateCode::no_link : VmStateCode::unreadable;
    t.error = fmt::format("state link '{}': {}", mapped_link, std::strerror(errno));
    return t;
  }
  if (!S_ISLNK(st.st_mode)) {  // a plain file stands for the document itself
    t.path = mapped_link;
    return t;
  }
  std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
  ssize_t n = ::readlink(mapped_link.c_str(), target.data(), target.size());
  if (n < 0 || static_cast<size_t>(n) >= target.size()) {
    t.code = VmStateCode::unreadable;
    t.error = fmt::format("state link '{}': {}", mapped_link,
                          n < 0 ? std::strerror(errno) : "target changed while read");
    return t;
  }
  target.resize(static_cast<size_t>(n));
  t.path = !target.empty() && target.front() == '/' ? platform::host_path(target)
                                                    : mapped_dir + "/" + target;
  return t;
}

}  // namespace

VmState::VmState(const std::string& pool, const std::string& vm_id,
                 std::chrono::milliseconds sem_wait)
    : pool_(pool), vm_id_(vm_id), dir_(pool_state_dir(Config::instance(), pool)),
      sem_wait_(sem_wait) {}

VmStateRead VmState::read() {
  VmStateRead result;
  auto fail = [&](VmStateCode code, std::string reason) {
    result.code = code;
    result.text = std::move(reason);
    last_error_ = result.text;
    return result;
  };
  if (!valid_state_name(pool_) || !valid_state_name(vm_id_))
    return fail(VmStateCode::no_link,
                fmt::format("bad VM id '{}' or pool name '{}'", vm_id_, pool_));

  const std::string dir = platform::host_path(dir_);
  LinkTarget target = resolve_link(platform::host_path(link_path()), dir);
  if (target.code != VmStateCode::ok) return fail(target.code, target.error);

  std::string text, error;
  if (!read_file(target.path, text, error)) {
    int err = errno;
    return fail(err == ENOENT ? VmStateCode::dangling : VmStateCode::unreadable,
                fmt::format("vm.json '{}': {}", platform::real_path(target.path), error));
  }
  if (text.find_first_not_of(" \t\r\n") == std::string::npos)
    return fail(VmStateCode::empty,
                fmt::format("vm.json '{}' is empty", platform::real_path(target.path)));
  result.text = std::move(text);
  last_error_.clear();
  return result;
}

std::string VmState::read_text() {
  VmStateRead r = read();
  return r.ok() ? std::move(r.text) : std::string();
}

bool VmState::exists() const {
  if (!valid_state_name(pool_) || !valid_state_name(vm_id_)) return false;
  LinkTarget target = resolve_link(platform::host_path(link_path()), platform::host_path(dir_));
  if (target.code != VmStateCode::ok) return false;
  struct stat st {};
  return ::stat(target.path.c_str(), &st) == 0;
}

std::string VmState::store(const std::string& vm_dir, const std::string& record_text) {
  if (!valid_state_name(pool_) || !valid_state_name(vm_id_))
    return fmt::format("bad VM id '{}' or pool name '{}'", vm_id_, pool_);
  if (vm_dir.empty() || vm_dir.front() != '/')
    return fmt::format("VM directory '{}' is not an absolute path", vm_dir);
  const std::string real_doc = vm_dir + "/vm.json";
  std::string error = write_file_atomic(platform::host_path(real_doc), record_text);
  if (!error.empty()) return error;

  const std::string link = platform::host_path(link_path());
  const std::string tmp = link + ".tmp";
  ::unlink(tmp.c_str());
  if (::symlink(real_doc.c_str(), tmp.c_str()) != 0)
    return fmt::format("Can't create '{}': {}", tmp, std::strerror(errno));
  if (::rename(tmp.c_str(), link.c_str()) != 0) {
    std::string reason = fmt::format("Can't rename '{}': {}", tmp, std::strerror(errno));
    ::unlink(tmp.c_str());
    return reason;
  }
  return {};
}

std::string VmState::mark_path(SuspendMark which) const {
  const char* suffix = which == SuspendMark::pool ? ".pool_suspended" : ".suspended";
  return platform::host_path(dir_ + "/" + vm_id_ + suffix);
}

SuspendMark VmState::suspend_mark(std::string& error) const {
  error.clear();
  if (!valid_state_name(pool_) || !valid_state_name(vm_id_)) {
    error = fmt::format("bad VM id '{}' or pool name '{}'", vm_id_, pool_);
    return SuspendMark::error;
  }
  for (SuspendMark which : {SuspendMark::own, SuspendMark::pool}) {
    MarkProbe probe = probe_mark(mark_path(which));
    if (probe.error != 0) {
      error = fmt::format("'{}': {}", platform::real_path(mark_path(which)),
                          std::strerror(probe.error));
      return SuspendMark::error;
    }
    if (probe.present) return which;
  }
  return SuspendMark::none;
}

bool VmState::set_suspend_mark(SuspendMark which) {
  if (which != SuspendMark::own && which != SuspendMark::pool) return false;
  if (!valid_state_name(pool_) || !valid_state_name(vm_id_)) return false;
  state_sem lock(state_sem::vm_name(vm_id_), sem_wait_);
  std::string error = write_mark(mark_path(which));
  if (error.empty())
    error = remove_mark(mark_path(which == SuspendMark::own ? SuspendMark::pool : SuspendMark::own));
  if (!error.empty()) {
    spdlog::error("vm_id={} ### suspend mark: {}", vm_id_, error);
    return false;
  }
  return true;
}

bool VmState::clear_suspend_mark() {
  if (!valid_state_name(pool_) || !valid_state_name(vm_id_)) return false;
  state_sem lock(state_sem::vm_name(vm_id_), sem_wait_);
  bool ok = true;
  for (SuspendMark which : {SuspendMark::own, SuspendMark::pool}) {
    std::string error = remove_mark(mark_path(which));
    if (!error.empty()) {
      spdlog::error("vm_id={} ### suspend mark: {}", vm_id_, error);
      ok = false;
    }
  }
  return ok;
}
