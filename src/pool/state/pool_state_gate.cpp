#include "pool/state/pool_state_gate.h"

#include <fmt/format.h>

#include "model/pool_state.h"

pool_check pool_state_gate(const std::string& pool, bool with_hint) {
  if (pool.empty()) return std::nullopt;
  auto hint = [&](const char* action) {
    return with_hint ? fmt::format(" (use 'ombrix-vm pool {} --id={}')", action, pool) : "";
  };
  switch (PoolState::read(pool)) {
    case PoolState::stopped:
      return pool_error{kPoolStopped, fmt::format("Pool '{}' is stopped. Should only be started{}",
                                                  pool, hint("start"))};
    case PoolState::suspended:
      return pool_error{kPoolSuspended,
                        fmt::format("Pool '{}' is suspended. Should only be resumed{}", pool,
                                    hint("resume"))};
    default:
      return std::nullopt;
  }
}
