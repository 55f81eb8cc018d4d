// An open libzfs dataset handle, closed with zfs_close when it goes.
#pragma once

#include <memory>
#include <string>

#include "storage/zfs_session.h"

struct zfs_dataset_closer {
  void operator()(zfs_handle_t* dataset) const { libzfs::zfs_close(dataset); }
};
using zfs_dataset = std::unique_ptr<zfs_handle_t, zfs_dataset_closer>;

// Opens the dataset `name` of the types in `types` (a zfs_type_t mask); null
// on failure, with the reason in the session's error description.
zfs_dataset open_dataset(const zfs_session& session, const std::string& name, int types);
