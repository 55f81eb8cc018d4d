// Small helpers over open datasets and pools shared by the dataset and
// snapshot operations.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "storage/zfs_dataset.h"
#include "storage/zfs_session.h"

struct zpool_closer {
  void operator()(zpool_handle_t* pool) const { libzfs::zpool_close(pool); }
};
using zfs_pool = std::unique_ptr<zpool_handle_t, zpool_closer>;

// The dataset's name ("" for a null handle).
std::string dataset_name(zfs_handle_t* dataset);

// A property as the exact text libzfs gives (1024 bytes at most); nothing
// when libzfs cannot read it.
std::optional<std::string> literal_property(zfs_handle_t* dataset, zfs_prop_t prop);

// The guid read literally; nothing on failure.
std::optional<std::string> guid_text(zfs_handle_t* dataset);

// The description of the last error of the libzfs handle the dataset
// belongs to.
std::string dataset_error(zfs_handle_t* dataset);
