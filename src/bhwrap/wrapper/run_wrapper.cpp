// The VM wrapper process from the daemon's fork to its end.
#include <unistd.h>

#include <exception>

#include <spdlog/spdlog.h>

#include "bhwrap/wrapper/bhwrap.h"
#include "ipc/mq_send.h"

void run_wrapper(const _command& command, const BhWrapTimings& timings,
                 std::unique_ptr<RemoteDisks> remote) {
  int result = -1;
  BhWrap wrapper(command, timings, std::move(remote));
  try {
    result = wrapper.exec();
    if (result < 0) {
      // bhyve never ran: undo what was shared for it and answer the daemon.
      wrapper.release_remote_resources(true);
      std::string error = mq_send_confirm(command.vm_id, result, "");
      if (!error.empty())
        spdlog::error("### MQ send error: {}; {} {}", error, __FILE_NAME__, __LINE__);
    }
  } catch (...) {
    std::string what = "unknown exception";
    try {
      throw;
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    spdlog::error("vm_id={} ### BhWrap: unexpected error: {}", command.vm_id, what);
    // Before bhyve was forked nobody has answered the daemon yet: what was
    // shared for the run is withdrawn and the failure reported. After it,
    // bhyve must not run on unsupervised: it is stopped, its shares withdrawn
    // and the run reported.
    if (wrapper.bhyve_pid() == 0) {
      try {
        wrapper.release_remote_resources(true);
      } catch (...) {
        spdlog::error("vm_id={} ### BhWrap: remote resources not released", command.vm_id);
      }
      mq_send_confirm(command.vm_id, -1, "");
    } else {
      wrapper.end_run_after_error();
    }
    result = -1;
  }
  if (auto logger = spdlog::default_logger()) logger->flush();
  // _exit: the wrapper's detached threads must not run into static destructors.
  ::_exit(result == 0 ? 0 : 1);
}
