// The stand-in's model lives in one JSON file under the host root,
// "$OMBRIX_ROOT/var/db/libzfs-sim.json", so that every process (the libzfs
// stand-in in each controller process, the zfs-sim tool) sees one model. An
// flock on "libzfs-sim.json.lock" beside it serialises the processes; the
// file is replaced by rename, never rewritten in place.
//
// Layout:
//   {"pools": {NAME: {"guid": N, "state": N (pool_state_t), "txg": N,
//                     "history": [{"time": SECONDS, "text": TEXT}...]}},
//    "datasets": {NAME: {"type": N (zfs_type_t), "guid": N, "createtxg": N,
//                        "creation": SECONDS, "props": {PROPERTY: NUMBER|TEXT},
//                        "origin": SNAPSHOT (clones), "mounted": BOOL,
//                        "shared": BOOL, "inconsistent": BOOL (a receive in
//                        progress)}},
//    (a snapshot "DATASET@NAME" keeps the dataset's "props" as they were)
//    "faults": {FUNCTION: {"errno": N, "remaining": N (-1: every call),
//                          "skip": N (calls that go through first),
//                          "text": TEXT}}}
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace zfs_sim {

// OMBRIX_ROOT without a trailing '/', "" when unset (the real host).
std::string host_root();
std::string state_path(const std::string& root);
// Where a zvol's device lives: root + "/dev/zvol/" + dataset.
std::string zvol_path(const std::string& root, const std::string& dataset);

// The state, read and locked for the life of the object.
class LockedState {
 public:
  explicit LockedState(std::string root);
  ~LockedState();
  LockedState(const LockedState&) = delete;
  LockedState& operator=(const LockedState&) = delete;

  // Why the state could not be locked or read; "" when it was.
  const std::string& error() const { return error_; }
  const std::string& root() const { return root_; }
  nlohmann::json& state() { return state_; }
  const nlohmann::json& state() const { return state_; }

  void mark_changed() { changed_ = true; }
  // Writes the state when it changed; "" or why it could not.
  std::string commit();

 private:
  std::string root_;
  std::string path_;
  int lock_fd_ = -1;
  nlohmann::json state_;
  bool changed_ = false;
  std::string error_;
};

}  // namespace zfs_sim
