#include "daemon/suspend_worker.h"

#include <spdlog/spdlog.h>

#include "daemon/daemon_status.h"
#include "daemon/suspend_image.h"
#include "hostlib/vmmapi.h"
#include "ipc/mq_send.h"

int32_t run_suspend(const SuspendJob& job) {
  if (!libvmmapi::has_vm_checkpoint()) {
    spdlog::error("VMS-SUSPEND. vm_id={} ### libvmmapi offers no checkpoint", job.vm_id);
    return kSuspendNotSupported;
  }
  zfs_session session;
  if (!session.ok()) {
    spdlog::error("VMS-SUSPEND. vm_id={} ### {}", job.vm_id, libzfs_not_initialized);
    return kSuspendVolumeFailed;
  }
  SuspendVolumeResult volume = prepare_suspend_volume(
      session, suspend_image_dataset(job.root_dataset_name), suspend_image_size(job.ram));
  if (!volume.ok) {
    spdlog::error("VMS-SUSPEND. vm_id={} ### {}", job.vm_id, volume.text);
    return kSuspendVolumeFailed;
  }
  spdlog::info("VMS-SUSPEND. vm_id={} {}", job.vm_id, volume.text);
  const std::string path = suspend_image_path(job.root_dataset_name);
  if (auto error = vmmapi_checkpoint(job.vm_id, path, true)) {
    spdlog::error("VMS-SUSPEND. vm_id={} ### checkpoint to {} failed: {}", job.vm_id, path, *error);
    return kSuspendCheckpointFailed;
  }
  spdlog::info("VMS-SUSPEND. vm_id={} checkpoint written to {}", job.vm_id, path);
  return kStatusOk;
}

int suspend_worker_main(const SuspendJob& job) {
  int32_t result = run_suspend(job);
  std::string error = mq_send_confirm(job.vm_id, result, kSuspendWorkerTag);
  if (!error.empty()) spdlog::error("### MQ send error: {}; {} {}", error, __FILE__, __LINE__);
  return result == kStatusOk ? 0 : 1;
}
