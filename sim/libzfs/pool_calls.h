// Running one pool operation of the stand-in on the locked pool model.
#pragma once

#include "sim/libzfs/handles.h"
#include "sim/libzfs/pool_model.h"

namespace zfs_sim {

// As with_model, with the pool model: a fault injected for `function` fails
// the call first.
template <class F>
Outcome with_pools(const libzfs_handle* hdl, const char* function, F&& op) {
  try {
    LockedState state(hdl->root);
    if (!state.error().empty()) return Failure{EZFS_IO, state.error()};
    PoolModel model(state);
    Outcome outcome = model.zfs().take_fault(function);
    if (!outcome) outcome = op(model);
    hold_members(hdl, model.active_members());
    std::string problem = state.commit();
    if (!problem.empty() && !outcome) outcome = Failure{EZFS_IO, problem};
    return outcome;
  } catch (const std::bad_alloc&) {
    return Failure{EZFS_NOMEM, error_text(EZFS_NOMEM)};
  } catch (const std::exception& e) {
    return Failure{EZFS_UNKNOWN, std::string("damaged libzfs state: ") + e.what()};
  }
}

}  // namespace zfs_sim
