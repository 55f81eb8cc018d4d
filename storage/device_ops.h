// Operations on single devices of an imported pool: replacing a disk (the
// new one probed and its label areas zeroed first), bringing a device online,
// taking it offline, and clearing the pool's error counters.
#pragma once

#include <optional>
#include <string>

#include "storage/pool_result.h"
#include "storage/zfs_session.h"

// Replaces `old_device` of `pool` (a path or a guid in decimal, as the pool
// lists it) by the disk `new_device`. Nothing on success, else the error.
std::optional<std::string> replace_device(zfs_session& zfs, const std::string& pool,
                                          const std::string& old_device, const std::string& new_device);

// 0 when the device came back healthy; 1 with a warning when it did not;
// -1 on failure.
zfs_call_result online_device(zfs_session& zfs, const std::string& pool, const std::string& device);
// Takes the device offline for good (not only until the next import).
zfs_call_result offline_device(zfs_session& zfs, const std::string& pool, const std::string& device);
// Clears the error counters of the whole pool, without rewinding it.
zfs_call_result clear_pool_errors(zfs_session& zfs, const std::string& pool);
