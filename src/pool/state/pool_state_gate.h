// Whether a command for a VM of `pool` may run now: not while the pool is
// stopped or suspended. The daemon asks without the hint, the command line
// with it ("(use 'ombrix-vm pool start --id=<pool>')").
#pragma once

#include <string>

#include "pool/state/pool_error.h"

// Nothing for an empty pool and for a pool neither stopped nor suspended;
// else {-461, "Pool '<pool>' is stopped. Should only be started<hint>"} or
// {-460, "Pool '<pool>' is suspended. Should only be resumed<hint>"}.
pool_check pool_state_gate(const std::string& pool, bool with_hint);
