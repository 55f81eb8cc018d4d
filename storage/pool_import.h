// Pool-level operations over libzfs: setting one pool property, exporting a
// pool (plain, forced or hard-forced) and importing one by name.
#pragma once

#include <cstdint>
#include <string>

#include "storage/pool_property_list.h"
#include "storage/pool_result.h"
#include "storage/zfs_session.h"

pool_result set_pool_property(zfs_session& zfs, const std::string& pool, const std::string& name,
                              const std::string& value);

// 0 or -1; the text is libzfs's last error description, also on success.
zfs_call_result export_pool(zfs_session& zfs, const std::string& pool, bool force, bool hardforce);

// Imports the one importable pool named `pool` with `props` and libzfs's
// import flags (ZFS_IMPORT_ONLY: without mounting its datasets). The pool's
// guid on success.
zfs_call_result import_pool(zfs_session& zfs, const std::string& pool, const pool_property_list& props,
                            int32_t import_flags);
