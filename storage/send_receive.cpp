#include "storage/send_receive.h"

#include "storage/owned_nvlist.h"
#include "storage/pool_history.h"
#include "storage/zfs_dataset.h"

dataset_result send_snapshot(zfs_session& session, int32_t fd, const std::string& dataset,
                             const std::string& target, const std::string& source,
                             bool single_step) {
  if (!session.ok()) return {storage_not_initialized, libzfs_not_initialized};
  zfs_dataset opened = open_dataset(session, dataset, ZFS_TYPE_FILESYSTEM | ZFS_TYPE_VOLUME);
  if (!opened) return {-1, session.error_description()};
  zfs_send_flags_t flags{};
  flags.replicate = B_TRUE;
  flags.props = B_TRUE;
  flags.largeblock = B_TRUE;
  flags.doall = single_step && !source.empty() ? B_FALSE : B_TRUE;
  int rc = libzfs::zfs_send(opened.get(), source.empty() ? nullptr : source.c_str(),
                            target.c_str(), &flags, fd, nullptr, nullptr, nullptr);
  opened.reset();
  if (rc != 0) {
    std::string reason = session.error_description();
    log_pool_history(session, history_verb::send_error, reason);
    return {-1, reason};
  }
  log_pool_history(session, history_verb::send, dataset);
  return {0, ""};
}

receive_result receive_snapshot(zfs_session& session, int32_t fd, const std::string& target) {
  if (!session.ok()) return {-1, EZFS_UNKNOWN, libzfs_not_initialized};
  owned_nvlist props = make_nvlist();
  if (!props) return {-1, EZFS_NOMEM, "Not enough memory"};
  zfs_recv_flags_t flags{};
  flags.force = B_TRUE;
  if (libzfs::zfs_receive(session.handle(), target.c_str(), props.get(), &flags, fd, nullptr) != 0) {
    receive_result failed{-1, libzfs::libzfs_errno(session.handle()), session.error_description()};
    log_pool_history(session, history_verb::receive_error, failed.text);
    return failed;
  }
  log_pool_history(session, history_verb::receive_in, target);
  return {0, 0, ""};
}
