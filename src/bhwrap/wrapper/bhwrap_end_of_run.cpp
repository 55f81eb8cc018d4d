// After a run: the guest-reset accounting and the end-of-run step.
#include <sys/stat.h>
#include <time.h>

#include <thread>

#include <spdlog/spdlog.h>

#include "bhwrap/wrapper/bhwrap.h"
#include "ipc/mq_send.h"
#include "ipc/shm.h"
#include "ipc/vm_lock.h"
#include "ipc/vm_runtime_record.h"
#include "platform/host_root.h"
#include "platform/sysctl.h"

void BhWrap::account_guest_reset() {
  const std::string& vm_id = command_.vm_id;
  VmLock lock(vm_id, timings_.lock_timeout_ms);
  VmRuntimeRecord record = parse_runtime_record(Shm::load_text(vm_id, ShmKind::vm));
  int64_t now = ::time(nullptr);
  int32_t count = 0;
  if (record.abort_time == 0)
    record.abort_time = now;
  else
    count = record.abort_count;
  ++count;
  record.abort_count = count;

  if (static_cast<double>(command_.abort_interval) <= static_cast<double>(now - record.abort_time)) {
    record.abort_count = 1;
    record.abort_time = now;
    record.pid = -1;
    Shm(vm_id, ShmKind::vm).write(record.to_text());
  } else if (count >= 0 && static_cast<uint32_t>(count) <= command_.abort_restarts) {
    record.pid = -1;
    Shm(vm_id, ShmKind::vm).write(record.to_text());
    spdlog::info("vm_id={} BhWrap::exec() <restart> sigabrt_restart_count={}", vm_id, count);
  } else {
    Shm::unlink(vm_id, ShmKind::vm);
    status_ = -2;
    spdlog::info("vm_id={} BhWrap::exec() <stop> sigabrt_restart_count={}", vm_id, count);
  }
}

void temporary_vm(const std::string& vm_id, bool destroy, int32_t status,
                  const std::optional<mq_exit_info>& exit, const BhWrapTimings& timings) {
  if (destroy) platform::sysctl_set("hw.vmm.destroy", vm_id);

  std::string name = vm_id + "_tmp";
  spdlog::trace("*** BhWrap: Create temporary VM={}", name);
  platform::sysctl_set("hw.vmm.create", name);
  spdlog::trace("*** BhWrap: Destroy temporary VM={}", name);
  platform::sysctl_set("hw.vmm.destroy", name);
  spdlog::trace("*** BhWrap: Wait for destroying temporary VM={}", name);
  std::string node = platform::host_path("/dev/vmm/" + name);
  for (int poll = 0; poll < timings.temporary_vm_polls; ++poll) {
    struct stat st {};
    if (::lstat(node.c_str(), &st) != 0) break;
    std::this_thread::sleep_for(timings.temporary_vm_poll);
  }
  spdlog::trace("*** BhWrap: Temporary VM={} is destroyed", name);

  Shm::unlink(vm_id, ShmKind::devices);
  Shm::unlink(vm_id, ShmKind::reconfig);

  std::string error = mq_send_vm_exit(vm_id, status, exit);
  if (!error.empty()) spdlog::error("### MQ send error: {}; {} {}", error, __FILE_NAME__, __LINE__);
}
