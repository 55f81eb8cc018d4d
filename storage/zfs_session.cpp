#include "storage/zfs_session.h"

zfs_session::zfs_session() : handle_(libzfs::libzfs_init()) {
  if (handle_) libzfs::libzfs_print_on_error(handle_, B_TRUE);
}

zfs_session::~zfs_session() {
  if (handle_) libzfs::libzfs_fini(handle_);
}

std::string zfs_session::error_description() const {
  if (!handle_) return "";
  const char* text = libzfs::libzfs_error_description(handle_);
  return text ? text : "";
}
