// libzfs operations through the process-wide binding (libzfs_api). Each one
// forwards its arguments to the library function of the same name and
// returns its result unchanged. When the library lacks the function, an int
// result is -1, a pointer result null, a function without result does
// nothing, and zfeature_is_supported answers true.
#pragma once

#include <libzfs.h>

namespace libzfs {

#define LIBZFS_DECLARE(result, name, params, args) result name params;
LIBZFS_ENTRY_POINTS(LIBZFS_DECLARE)
#undef LIBZFS_DECLARE

// The addresses of libzfs's feature table (SPA_FEATURES entries) and of its
// pool-configuration operations; null when not resolved.
const zfeature_info_t* spa_feature_table();
// How many entries the loaded feature table really has (from the library's
// symbol table), at most `limit`; SPA_FEATURES when the library does not
// record the size, 0 without a table.
size_t spa_feature_table_entries(size_t limit);
const pool_config_ops_t* libzfs_config_ops();

}  // namespace libzfs
