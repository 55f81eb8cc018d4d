// FreeBSD libnv operations through the process-wide binding (libnv_api), for
// reading the packed list in a checkpoint image's header. Each one forwards
// its arguments to the library function of the same name and returns its
// result unchanged. When the library lacks the function: nvlist_unpack and
// the getters of a list or text give null, nvlist_get_number gives 0, the
// nvlist_exists_* questions false, and nvlist_destroy does nothing.
//
// libnv's getters stop the process when the list has no member of that name
// and type: ask nvlist_exists_* first for anything read from outside.
#pragma once

#include <libnv.h>

namespace libnv {

using nvlist_t = libnv_nvlist_t;

#define LIBNV_DECLARE(result, name, params, args) result name params;
LIBNV_ENTRY_POINTS(LIBNV_DECLARE)
#undef LIBNV_DECLARE

}  // namespace libnv
