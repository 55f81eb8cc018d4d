// Kept for tests/driver, which still includes it: the shared TempRoot under
// its old global name. New code includes "tests/support/temp_root.h".
#pragma once

#include "tests/support/temp_root.h"

using test_support::TempRoot;
