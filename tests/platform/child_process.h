// Kept for tests/driver and tests/integration, which still include it: the
// shared ChildProcess and eventually under their old global names. New code
// includes "tests/support/child_process.h".
#pragma once

#include "tests/support/child_process.h"

using test_support::ChildProcess;
using test_support::eventually;
