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

int zfs_clone(zfs_handle_t* zhp, const char*, nvlist_t*) { return unsupported(of(zhp), "zfs_clone"); }

int zfs_snapshot(libzfs_handle_t* hdl, const char*, boolean_t, nvlist_t*) {
  return unsupported(hdl, "zfs_snapshot");
}

int zfs_snapshot_nvl(libzfs_handle_t* hdl, nvlist_t*, nvlist_t*) {
  return unsupported(hdl, "zfs_snapshot_nvl");
}

int zfs_destroy_snaps_nvl(libzfs_handle_t* hdl, nvlist_t*, boolean_t) {
  return unsupported(hdl, "zfs_destroy_snaps_nvl");
}

int zfs_rollback(zfs_handle_t* zhp, zfs_handle_t*, boolean_t) {
  return unsupported(of(zhp), "zfs_rollback");
}

int zfs_rename(zfs_handle_t* zhp, const char*, zfs_rename_flags_t) {
  return unsupported(of(zhp), "zfs_rename");
}

int zfs_send(zfs_handle_t* zhp, const char*, const char*, zfs_send_flags_t*, int, snapfilter_cb_t,
             void*, nvlist_t**) {
  return unsupported(of(zhp), "zfs_send");
}

int zfs_receive(libzfs_handle_t* hdl, const char*, nvlist_t*, zfs_recv_flags_t*, int, void*) {
  return unsupported(hdl, "zfs_receive");
}

int zfs_iter_dependents(zfs_handle_t* zhp, boolean_t, zfs_iter_f, void*) {
  return unsupported(of(zhp), "zfs_iter_dependents");
}

int zfs_iter_snapspec(zfs_handle_t* zhp, const char*, zfs_iter_f, void*) {
  return unsupported(of(zhp), "zfs_iter_snapspec");
}

int zfs_mount(zfs_handle_t* zhp, const char*, int) { return unsupported(of(zhp), "zfs_mount"); }

int zfs_share(zfs_handle_t* zhp) { return unsupported(of(zhp), "zfs_share"); }

boolean_t zfs_is_mounted(zfs_handle_t* zhp, char** where) {
  if (where) *where = nullptr;
  unsupported(of(zhp), "zfs_is_mounted");
  return B_FALSE;
}

int zfs_unmountall(zfs_handle_t* zhp, int) { return unsupported(of(zhp), "zfs_unmountall"); }

int zfs_prop_inherit(zfs_handle_t* zhp, const char*, boolean_t) {
  return unsupported(of(zhp), "zfs_prop_inherit");
}

nvlist_t* zfs_get_user_props(zfs_handle_t* zhp) {
  unsupported(of(zhp), "zfs_get_user_props");
  return nullptr;
}

nvlist_t* zfs_get_clones_nvl(zfs_handle_t* zhp) {
  unsupported(of(zhp), "zfs_get_clones_nvl");
  return nullptr;
}

}  // extern "C"
