// Entry points the stand-in does not model: each records "operation not
// supported" in the libzfs handle it can reach and fails.
#pragma GCC visibility push(default)
#include "sim/include/libzfs.h"
#pragma GCC visibility pop

#include "sim/libzfs/handles.h"

using zfs_sim::unsupported;

namespace {

libzfs_handle_t* of(zpool_handle_t* zhp) { return zhp ? zhp->hdl : nullptr; }

}  // namespace

extern "C" {

nvlist_t* zpool_get_config(zpool_handle_t* zhp, nvlist_t** oldconfig) {
  if (oldconfig) *oldconfig = nullptr;
  unsupported(of(zhp), "zpool_get_config");
  return nullptr;
}

int zpool_refresh_stats(zpool_handle_t* zhp, boolean_t* missing) {
  if (missing) *missing = B_FALSE;
  return unsupported(of(zhp), "zpool_refresh_stats");
}

nvlist_t* zpool_get_features(zpool_handle_t* zhp) {
  unsupported(of(zhp), "zpool_get_features");
  return nullptr;
}

int zpool_set_prop(zpool_handle_t* zhp, const char*, const char*) {
  return unsupported(of(zhp), "zpool_set_prop");
}

int zpool_prop_get_feature(zpool_handle_t* zhp, const char*, char*, size_t) {
  return unsupported(of(zhp), "zpool_prop_get_feature");
}

char* zpool_vdev_name(libzfs_handle_t* hdl, zpool_handle_t*, nvlist_t*, int) {
  unsupported(hdl, "zpool_vdev_name");
  return nullptr;
}

int zpool_create(libzfs_handle_t* hdl, const char*, nvlist_t*, nvlist_t*, nvlist_t*) {
  return unsupported(hdl, "zpool_create");
}

int zpool_destroy(zpool_handle_t* zhp, const char*) { return unsupported(of(zhp), "zpool_destroy"); }

int zpool_add(zpool_handle_t* zhp, nvlist_t*, boolean_t) { return unsupported(of(zhp), "zpool_add"); }

int zpool_vdev_attach(zpool_handle_t* zhp, const char*, const char*, nvlist_t*, int, boolean_t) {
  return unsupported(of(zhp), "zpool_vdev_attach");
}

int zpool_vdev_online(zpool_handle_t* zhp, const char*, int, vdev_state_t*) {
  return unsupported(of(zhp), "zpool_vdev_online");
}

int zpool_vdev_offline(zpool_handle_t* zhp, const char*, boolean_t) {
  return unsupported(of(zhp), "zpool_vdev_offline");
}

int zpool_clear(zpool_handle_t* zhp, const char*, nvlist_t*) {
  return unsupported(of(zhp), "zpool_clear");
}

int zpool_in_use(libzfs_handle_t* hdl, int, pool_state_t*, char** namestr, boolean_t* inuse) {
  if (namestr) *namestr = nullptr;
  if (inuse) *inuse = B_FALSE;
  return unsupported(hdl, "zpool_in_use");
}

int zpool_disable_datasets(zpool_handle_t* zhp, boolean_t) {
  return unsupported(of(zhp), "zpool_disable_datasets");
}

int zpool_enable_datasets(zpool_handle_t* zhp, const char*, int) {
  return unsupported(of(zhp), "zpool_enable_datasets");
}

int zpool_export(zpool_handle_t* zhp, boolean_t, const char*) {
  return unsupported(of(zhp), "zpool_export");
}

int zpool_export_force(zpool_handle_t* zhp, const char*) {
  return unsupported(of(zhp), "zpool_export_force");
}

nvlist_t* zpool_search_import(libpc_handle_t* hdl, importargs_t*) {
  unsupported(hdl ? static_cast<libzfs_handle_t*>(hdl->lpc_lib_handle) : nullptr,
              "zpool_search_import");
  return nullptr;
}

int zpool_import_props(libzfs_handle_t* hdl, nvlist_t*, const char*, nvlist_t*, int) {
  return unsupported(hdl, "zpool_import_props");
}

}  // extern "C"
