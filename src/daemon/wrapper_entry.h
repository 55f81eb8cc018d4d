// The forked child of a start, resume or restart becomes the VM's wrapper here.
#pragma once

#include "bhwrap/wrapper/bhwrap_timings.h"
#include "model/command.h"

// Runs the VM of `command` under its wrapper until the run is over and exits.
// A start that fails before the hypervisor runs is confirmed with its negative
// result by the wrapper itself.
[[noreturn]] void become_wrapper(const _command& command, const BhWrapTimings& timings);
