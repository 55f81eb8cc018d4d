#include "sim/libzfs/state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zfs_sim {

namespace fs = std::filesystem;

std::string host_root() {
  const char* env = std::getenv("OMBRIX_ROOT");
  std::string root = env ? env : "";
  while (!root.empty() && root.back() == '/') root.pop_back();
  return root;
}

std::string state_path(const std::string& root) { return root + "/var/db/libzfs-sim.json"; }

std::string zvol_path(const std::string& root, const std::string& dataset) {
  return root + "/dev/zvol/" + dataset;
}

LockedState::LockedState(std::string root) : root_(std::move(root)), path_(state_path(root_)) {
  std::error_code ec;
  fs::create_directories(fs::path(path_).parent_path(), ec);
  std::string lock_path = path_ + ".lock";
  lock_fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock_fd_ < 0) {
    error_ = "cannot open " + lock_path + ": " + std::strerror(errno);
    return;
  }
  while (::flock(lock_fd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      error_ = "cannot lock " + lock_path + ": " + std::strerror(errno);
      return;
    }
  }
  std::ifstream in(path_);
  if (!in) {
    state_ = nlohmann::json::object();
  } else {
    std::stringstream text;
    text << in.rdbuf();
    state_ = nlohmann::json::parse(text.str(), nullptr, false);
    if (state_.is_discarded() || !state_.is_object()) {
      error_ = "the state file " + path_ + " is damaged";
      return;
    }
  }
  for (const char* section : {"pools", "datasets", "faults"})
    if (!state_.contains(section) || !state_[section].is_object())
      state_[section] = nlohmann::json::object();
}

LockedState::~LockedState() {
  if (lock_fd_ >= 0) ::close(lock_fd_);  // closing drops the lock
}

std::string LockedState::commit() {
  if (!changed_ || !error_.empty()) return error_;
  std::string tmp = path_ + ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << state_.dump(1) << '\n';
    out.flush();
    if (!out) return "cannot write " + tmp;
  }
  if (::rename(tmp.c_str(), path_.c_str()) != 0)
    return "cannot replace " + path_ + ": " + std::strerror(errno);
  changed_ = false;
  return "";
}

}  // namespace zfs_sim
