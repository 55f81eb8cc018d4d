// The stand-in's handles, and running one operation on the locked model.
#pragma once

#include <exception>
#include <map>
#include <memory>
#include <new>
#include <string>

#include <libzfs.h>

#include "sim/libzfs/errors.h"
#include "sim/libzfs/state_file.h"
#include "sim/libzfs/zfs_model.h"

struct libzfs_handle {
  std::string root;  // the host root the model lives under
  int error = EZFS_SUCCESS;
  std::string description = "no error";
  bool print = false;
  // The pool of the last dataset or pool operation that succeeded: where
  // zpool_log_history writes.
  std::string last_pool;
  // The member devices of the active pools, held open as the kernel holds
  // them (exclusively: O_EXCL for block devices, a lock for image files),
  // by path; brought up to date after every pool operation.
  mutable std::map<std::string, int> held;

  libzfs_handle() = default;
  libzfs_handle(const libzfs_handle&) = delete;
  libzfs_handle& operator=(const libzfs_handle&) = delete;
  ~libzfs_handle();
};

namespace zfs_sim {
struct ListFreer {
  void operator()(nvlist_t* list) const { nvlist_free(list); }
};
using OwnedList = std::unique_ptr<nvlist_t, ListFreer>;
}  // namespace zfs_sim

struct zfs_handle {
  libzfs_handle* hdl;
  std::string name;
  zfs_type_t type;
  // What zfs_get_user_props and zfs_get_clones_nvl hand out: owned here.
  zfs_sim::OwnedList user_props = nullptr;
  zfs_sim::OwnedList clones = nullptr;
};

struct zpool_handle {
  libzfs_handle* hdl;
  std::string name;
  // The configuration and features handed out last (owned by the handle).
  nvlist_t* config = nullptr;
  nvlist_t* features = nullptr;

  ~zpool_handle() {
    nvlist_free(config);
    nvlist_free(features);
  }
};

namespace zfs_sim {

// Keeps `failure` as the handle's last error (and prints "action: text"
// while printing is on). Returns -1.
int record(libzfs_handle* hdl, const std::string& action, const Failure& failure);

// Holds the devices of `members` for `hdl` and lets go of the others.
void hold_members(const libzfs_handle* hdl, const std::vector<std::string>& members);

// Records EZFS_NOTSUP for an entry point the stand-in does not model.
int unsupported(libzfs_handle* hdl, const char* function);

// Runs `op` (ZfsModel& -> Outcome) on the model under the state lock; a
// fault injected for `function` fails the call first. Never throws.
template <class F>
Outcome with_model(const libzfs_handle* hdl, const char* function, F&& op) {
  try {
    LockedState state(hdl->root);
    if (!state.error().empty()) return Failure{EZFS_IO, state.error()};
    ZfsModel model(state);
    Outcome outcome = model.take_fault(function);
    if (!outcome) outcome = op(model);
    std::string problem = state.commit();
    if (!problem.empty() && !outcome) outcome = Failure{EZFS_IO, problem};
    return outcome;
  } catch (const std::bad_alloc&) {
    return Failure{EZFS_NOMEM, error_text(EZFS_NOMEM)};
  } catch (const std::exception& e) {
    return Failure{EZFS_UNKNOWN, std::string("damaged libzfs state: ") + e.what()};
  }
}

// Notes in the model that `function` was called with `args` (its flags), so
// that a test sees what the library passed, also to a call that then fails.
inline void note_call(const libzfs_handle* hdl, const char* function, nlohmann::json args) {
  with_model(hdl, "", [&](ZfsModel& model) -> Outcome {
    model.note_call(function, std::move(args));
    return std::nullopt;
  });
}

}  // namespace zfs_sim
