#include "storage/zfs_dataset.h"

zfs_dataset open_dataset(const zfs_session& session, const std::string& name, int types) {
  return zfs_dataset(libzfs::zfs_open(session.handle(), name.c_str(), types));
}
