// An open libzfs pool handle, closed with zpool_close when it goes; and
// libzfs's vdev display names.
#pragma once

#include <memory>
#include <string>

#include "hostlib/libzfs.h"

struct zpool_closer {
  void operator()(zpool_handle_t* pool) const { libzfs::zpool_close(pool); }
};
using zpool_ref = std::unique_ptr<zpool_handle_t, zpool_closer>;

// zpool_vdev_name of `vdev` in the open `pool` with `flags` (the libzfs
// text freed here); "" when libzfs gives none.
std::string vdev_display_name(zpool_handle_t* pool, nvlist_t* vdev, int flags);
