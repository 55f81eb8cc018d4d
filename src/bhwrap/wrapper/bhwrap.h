// BhWrap: the wrapper process of one VM run. The daemon forks a detached child
// per start, resume or receive; that child calls run_wrapper(), which builds
// one BhWrap from the command and runs BhWrap::exec:
//
//   1. checks the command's VM record and, unless it is a migration receive,
//      the checkpoint image on the VM's suspend volume;
//   2. shares the VM's remote disks (RemoteDisks);
//   3. builds the bhyve argument list;
//   4. makes the VM's null-modem pairs and forks the child that writes the
//      start log header and executes "/usr/sbin/bhyve";
//   5. records the run in the VM's runtime record, confirms the start to the
//      daemon once bhyve answers, turns signals to the wrapper into actions on
//      bhyve, and runs its event loop until bhyve ends;
//   6. releases the remote resources, applies the guest-reset accounting and
//      reports the end of the run to the daemon (temporary_vm).
//
// Results of exec:
//    0  the run took place and its end was reported (an exit record)
//   -1  fork failed
//   -3  the command's item is not a VM record
//   -4  sharing a remote disk failed
//   -5  the argument list came out empty
//   -6  the checkpoint check failed
//   -7  "vms-start" of a suspended VM without force
//   -8  "vms-resume" of a VM that is not suspended
//   -9  "vms-resume" with disks that do not fit the checkpoint
//  -10  a network backend other than netgraph (record or checkpoint)
// A negative result means bhyve never ran and nothing was reported yet. A
// forked child that cannot execute bhyve ends at once with status 127, which
// the wrapper reports like any other bhyve exit status.
//
// Messages to the daemon's queue "/ombrix-vm.mq":
//   confirm {"vmid", "status"}  once per run: bhyve's pid when it runs, -1 when
//                               it was gone before it could be confirmed; and,
//                               sent by run_wrapper, the negative exec result
//                               when the run did not take place (-1, -3 .. -10)
//   exit report                 once per run that took place (temporary_vm)
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

#include <ev++.h>

#include "bhwrap/wrapper/bhwrap_timings.h"
#include "bhwrap/wrapper/bhyve_child_start.h"
#include "bhwrap/wrapper/remote_disks.h"
#include "ipc/mq_vm_message.h"
#include "model/command.h"
#include "model/vm_config.h"

class BhWrap {
 public:
  // Results of check_snapshot_config.
  static constexpr int32_t kNoCheckpoint = 0;
  static constexpr int32_t kCheckpointFits = 1;
  static constexpr int32_t kCheckpointMismatch = 2;
  static constexpr int32_t kCheckpointCheckFailed = 3;

  // Copies the command. `remote` is the NVMe-oF client; nullptr takes the
  // host's (make_remote_disks()).
  explicit BhWrap(const _command& command, BhWrapTimings timings = {},
                  std::unique_ptr<RemoteDisks> remote = nullptr);
  ~BhWrap();
  BhWrap(const BhWrap&) = delete;
  BhWrap& operator=(const BhWrap&) = delete;

  // Runs the VM once; see the results above. Throws ev::bad_loop when no
  // event loop can be made.
  int exec();

  // The stop time-out of the run in seconds: 30 for "vms-receive", else the
  // command's timeout.
  int32_t stop_timeout() const;

  // Undoes the remote disk shares no other host uses any more and the remote
  // checkpoint, then pauses (timings.release_pause). `quiet` keeps their
  // errors out of the log.
  void release_remote_resources(bool quiet);

  // Ends a run that an exception broke off after bhyve was forked: stops
  // bhyve when it still runs (SIGTERM, SIGKILL after the stop time-out),
  // releases the remote resources (quietly), removes the runtime record and
  // reports the end of the run (temporary_vm). Throws nothing.
  void end_run_after_error();

  // The method of a stop, restart or remove that the daemon has written into
  // the VM's runtime record; "" when there is none.
  std::string pending_method(const std::string& vm_id) const;

  // The bhyve argument list of a start: the command-line builder's elements,
  // without a seed image that is not there and with the default firmware for
  // a boot ROM that is not there, split into options and values.
  std::vector<std::string> build_argv(const VmConfig& record) const;

  // The checkpoint check before a start or resume (kNoCheckpoint ..
  // kCheckpointCheckFailed); sets checkpoint_path, extra_args and, for a
  // remote VM, the remote checkpoint.
  int32_t check_snapshot_config(VmConfig& record);
  // Shares the record's remote disks and rewrites them to their subsystems;
  // adds their "-o" settings, and those of local NVMe disks, to extra_args.
  // Nothing on success, else the error.
  std::optional<std::string> attach_remote_disks(VmConfig& record);
  // Withdraws the shares of the record's remote disks that no host uses.
  void detach_remote_disks(const VmConfig& record, bool quiet);
  // Shares and mounts the remote checkpoint volume `device.path`: {0, the
  // local device} or {-1, the error}. On success `device.path` is the NQN.
  std::pair<int32_t, std::string> attach_remote_snapshot(VmSuspendDevice& device);
  // Unmounts and unshares the remote checkpoint once; later calls do nothing.
  void detach_remote_snapshot(bool quiet);

  // The state of the run, for the end-of-run step and for tests.
  int32_t status() const { return status_; }
  const mq_exit_info& exit_info() const { return exit_info_; }
  const std::string& checkpoint_path() const { return checkpoint_path_; }
  const std::vector<std::string>& extra_args() const { return extra_args_; }
  bool bad_net_backend() const { return bad_net_backend_; }
  // bhyve's pid once it was forked; 0 before.
  pid_t bhyve_pid() const { return bhyve_pid_; }

 private:
  // Event callbacks (bhwrap_callbacks.cpp).
  void confirm_timer_cb(ev::timer& watcher, int revents);
  void signal_cb(ev::sig& watcher, int revents);
  void kill_timer_cb(ev::timer& watcher, int revents);
  void timeout_cb(ev::timer& watcher, int revents);
  void child_cb(ev::child& watcher, int revents);
  // Stops `watcher` and, while bhyve runs, logs `text` and sends it `signal`.
  void stop_bhyve_on_timer(ev::timer& watcher, const char* text, int signal);

  // Steps of the confirmation once bhyve runs.
  void log_bhyve_cpu_set(pid_t bhyve) const;
  void apply_vcpu_class(pid_t bhyve) const;
  void discard_started_checkpoint() const;

  // Steps of exec (bhwrap.cpp, bhwrap_child.cpp).
  std::vector<std::string> make_argument_list(const VmConfig& record) const;
  std::string start_log_path() const;
  // Everything the child that becomes bhyve needs, made before the fork.
  std::unique_ptr<BhyveChildStart> prepare_bhyve_child(const std::vector<std::string>& args) const;
  void write_runtime_record(pid_t bhyve);
  void account_guest_reset();
  void after_run(const VmConfig& record, int32_t loop_status);
  // The child watcher and the timers; stop_watchers also the signal watchers.
  void stop_run_watchers();
  void stop_watchers();
  std::string log_prefix() const;  // the method in upper case

  // The host NQN for a disk slot or the checkpoint ("" when any host may connect).
  std::string disk_host_nqn(uint64_t slot) const;
  std::string snapshot_host_nqn() const;
  // Shares a volume, retrying while the target cannot create the subsystem yet.
  RemoteShare share_volume(const std::string& traddr, const std::string& volume,
                           uint64_t sector_size, const std::string& host_nqn,
                           bool snapshot) const;

  ev::child child_watcher_{nullptr};
  ev::timer kill_timer_{nullptr};         // "bhyve-kill-timer"
  ev::timer confirm_timer_{nullptr};
  ev::timer receive_watchdog_{nullptr};   // "receive-watchdog-timer"
  ev::sig signal_watchers_[4] = {ev::sig{nullptr}, ev::sig{nullptr}, ev::sig{nullptr},
                                 ev::sig{nullptr}};
  int32_t status_ = -255;
  mq_exit_info exit_info_;
  _command command_;
  std::string snapshot_volume_;
  std::string snapshot_subnqn_;
  std::string snapshot_traddr_;
  std::string checkpoint_path_;
  bool bad_net_backend_ = false;
  std::vector<std::string> extra_args_;

  BhWrapTimings timings_;
  std::unique_ptr<RemoteDisks> remote_;
  struct ev_loop* loop_ = nullptr;
  pid_t bhyve_pid_ = 0;
};

// The end of a VM run: destroys the VM's hypervisor node (when `destroy`),
// creates and destroys a temporary VM so that the kernel has released the
// VM's memory, removes the hypervisor's shared-memory objects and sends the
// exit report with `status` and `exit` to the daemon. The daemon's stop and
// remove operations call it too.
void temporary_vm(const std::string& vm_id, bool destroy, int32_t status,
                  const std::optional<mq_exit_info>& exit, const BhWrapTimings& timings = {});

// The whole life of a VM wrapper process, called by the daemon's forked child
// once it has detached itself (title, session, working directory, standard
// descriptors, the daemon's watchers stopped and the loop marked as forked).
// Runs BhWrap::exec; for a negative result releases the remote resources
// (quietly) and reports the failure as a confirm record whose status is that
// result. A run that ends through an exception releases them as well (and
// stops bhyve first when it runs). Ends the process with _exit: status 0 after
// a run, 1 otherwise. `remote` is the NVMe-oF client (nullptr: the host's).
[[noreturn]] void run_wrapper(const _command& command, const BhWrapTimings& timings = {},
                              std::unique_ptr<RemoteDisks> remote = nullptr);
