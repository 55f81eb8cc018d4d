// Entry points the stand-in does not model: each records "operation not
// supported" in the libzfs handle it can reach and fails.
#pragma GCC visibility push(default)
#include "sim/include/libzfs.h"
#pragma GCC visibility pop

#include "sim/libzfs/handles.h"

using zfs_sim::unsupported;

namespace {

libzfs_handle_t* of(zfs_handle_t* zhp) { return zhp ? zhp->hdl : nullptr; }

}  // namespace

extern "C" {

int zfs_send(zfs_handle_t* zhp, const char*, const char*, zfs_send_flags_t*, int, snapfilter_cb_t,
             void*, nvlist_t**) {
  return unsupported(of(zhp), "zfs_send");
}

int zfs_receive(libzfs_handle_t* hdl, const char*, nvlist_t*, zfs_recv_flags_t*, int, void*) {
  return unsupported(hdl, "zfs_receive");
}

}  // extern "C"
