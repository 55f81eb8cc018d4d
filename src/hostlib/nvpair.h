// libnvpair operations through the process-wide binding (nvpair_api). Each
// one forwards its arguments to the library function of the same name and
// returns its result unchanged. When the library lacks the function, an int
// result is -1, a pointer result null, and a function without result does
// nothing.
#pragma once

#include <libnvpair.h>

namespace nvpair {

#define NVPAIR_DECLARE(result, name, params, args) result name params;
LIBNVPAIR_ENTRY_POINTS(NVPAIR_DECLARE)
#undef NVPAIR_DECLARE

}  // namespace nvpair
