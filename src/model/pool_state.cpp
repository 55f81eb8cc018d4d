#include "model/pool_state.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <spdlog/spdlog.h>

#include "driver/config.h"
#include "model/state_mark.h"
#include "model/state_sem.h"
#include "platform/host_root.h"

PoolState::PoolState(const std::string& pool)
    : pool_(pool), dir_(pool_state_dir(Config::instance(), pool)) {}

PoolState::Value PoolState::read(int& error) const {
  error = 0;
  if (!valid_state_name(pool_)) {
    error = EINVAL;
    return unreadable;
  }
  const std::string dir = platform::host_path(dir_);
  DIR* d = ::opendir(dir.c_str());
  if (!d) {
    error = errno;
    return error == ENOENT ? unknown : unreadable;
  }
  ::closedir(d);
  MarkProbe suspended_mark = probe_mark(dir + "/" + kSuspendedMark);
  MarkProbe stopped_mark = probe_mark(dir + "/" + kStoppedMark);
  for (const MarkProbe& p : {suspended_mark, stopped_mark}) {
    if (p.error != 0) {
      error = p.error;
      return unreadable;
    }
  }
  if (suspended_mark.present) return suspended;
  if (stopped_mark.present) return stopped;
  return started;
}

PoolState::Value PoolState::read() const {
  int error = 0;
  return read(error);
}

bool PoolState::set_marks(int state, std::chrono::milliseconds sem_wait) const {
  const char* keep = nullptr;
  switch (state) {
    case stopped: keep = kStoppedMark; break;
    case suspended: keep = kSuspendedMark; break;
    case started: break;
    default:
      spdlog::error("### Pool '{}' can't be marked {}", pool_, pool_state_name(state));
      return false;
  }
  if (!valid_state_name(pool_)) {
    spdlog::error("### Bad pool name '{}'", pool_);
    return false;
  }
  const std::string dir = platform::host_path(dir_);
  state_sem lock(state_sem::pool_name(pool_), sem_wait);
  if (keep) {
    std::string error = write_mark(dir + "/" + keep);
    if (!error.empty()) {
      spdlog::error("### Pool '{}' state mark: {}", pool_, error);
      return false;
    }
  }
  bool ok = true;
  for (const char* mark : {kStoppedMark, kSuspendedMark}) {
    if (keep && std::strcmp(mark, keep) == 0) continue;
    std::string error = remove_mark(dir + "/" + mark);
    if (!error.empty()) {
      spdlog::error("### Pool '{}' state mark: {}", pool_, error);
      ok = false;
    }
  }
  return ok;
}

PoolState::Value PoolState::read(const std::string& pool, int& error) {
  return PoolState(pool).read(error);
}

PoolState::Value PoolState::read(const std::string& pool) { return PoolState(pool).read(); }

bool PoolState::set_marks(const std::string& pool, int state) {
  return PoolState(pool).set_marks(state);
}

std::string pool_state_name(int state) {
  switch (state) {
    case PoolState::unknown: return "unknown";
    case PoolState::stopped: return "stopped";
    case PoolState::started: return "started";
    case PoolState::suspended: return "suspended";
    case PoolState::unreadable: return "unreadable";
    default: return "bad_enum_PoolState";
  }
}
