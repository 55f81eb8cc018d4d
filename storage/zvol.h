// ZFS volumes (zvols), as the controller keeps suspend images in them. Names
// are dataset names (pool first, no leading '/'); sizes are bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "storage/zfs_session.h"
#include "storage/zvol_result.h"

// Codes of the zvol operations.
inline constexpr int32_t zvol_not_initialized = -12;  // the session has no libzfs handle
inline constexpr int32_t zvol_open_failed = -1;
inline constexpr int32_t zvol_resize_smaller = -2;
inline constexpr int32_t zvol_resize_failed = -3;
inline constexpr int32_t zvol_exists = -24;
inline constexpr int32_t zvol_create_failed = -27;
inline constexpr int32_t zvol_no_guid = -28;

// Creates the zvol `name` of `size` bytes (rounded up in place to a multiple
// of `volblocksize`, which must be a power of 2) with volmode "dev", sync off
// and no refreservation. The guid on success. A zvol that was made but
// cannot be opened afterwards (-28) stays.
zvol_result create_volume(zfs_session& session, const std::string& name, uint64_t& size,
                          uint64_t volblocksize);

// Grows the zvol `name` to `size` (rounded up in place to a multiple of its
// volblocksize); never shrinks it. The guid on success.
zvol_result resize_volume(zfs_session& session, const std::string& name, uint64_t& size);

// The zvol's guid; its volsize and volblocksize go to the out-arguments (left
// as they were on failure).
zvol_result volume_info(zfs_session& session, uint64_t& volsize, uint64_t& volblocksize,
                        const std::string& name);

// Destroys the zvol `name`: nothing on success, else the error text.
std::optional<std::string> destroy_volume(zfs_session& session, const std::string& name);

// `size` rounded up to a multiple of `block` (a power of 2); nothing when
// `block` is not a power of 2 or the result does not fit in 64 bits.
std::optional<uint64_t> round_to_volblocksize(uint64_t size, uint64_t block);
