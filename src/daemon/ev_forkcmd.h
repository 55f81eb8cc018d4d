// EvForkCmd: the daemon's VM operations on the commands of its queue.
//
// Untyped records (the command line, the pool operations, VM wrappers):
//   {"vmid", "command", "reply_queue", "status"}  a command for one VM; the
//       words and what they do:
//         start, force_start    fork the VM's wrapper from the stored vm.json
//                               (forced: even with a checkpoint image)
//         resume, force_resume  the same with "vms-resume": the wrapper
//                               resumes from the image
//         stop, restart         note the method (and the record's "status" as
//                               the kill delay) in the runtime record and
//                               SIGTERM the wrapper; a restart starts the VM
//                               again once it is down
//         suspend, suspend_pool fork a worker that prepares the image zvol and
//                               has the hypervisor write its checkpoint there
//                               and stop; then the VM's own or its pool's
//                               suspend mark
//         pause, unpause        at once, through libvmmapi
//       "status" is the command's time-out in seconds (-1 = none). When the
//       command is over the answer goes into the FIFO "reply_queue" (see
//       daemon/cli_answer.h): status 1 on success, else a negative code.
//   {"vmid", "command": "exit", "status", "exit"}  a VM run ended: status 0
//       (a guest reset the wrapper allows) starts the VM again, any other
//       status leaves it down and its runtime record removed.
//   {"pool", "command"}  a pool was started, stopped, suspended or resumed:
//       passed on to the AMQP daemon as a "pool_control" record. Command
//       "consume" is the AMQP daemon's report on its consumer of the pool's
//       queue (status 1 started, 0 stopped): logged only.
// Typed "confirm" records: a wrapper's start confirmation (bhyve's pid, or a
// negative result) or the suspend worker's result.
//
// One command per VM: a second one is rejected ("Rejected, another command is
// executed") while the first waits. A watchdog gives up a command whose
// confirmation or exit report has not come by its deadline, or whose forked
// process (or the wrapper being stopped) ended without a word.
//
// Particular cases: stop of a VM that is not running succeeds with "VM is not
// running"; restart, suspend, pause and unpause of such a VM fail; start and
// resume of a running VM fail. A VM whose hypervisor runs without a wrapper is
// stopped by signalling the hypervisor itself, after which the end of the run
// is reported as for any run.
#pragma once

#include <ev.h>

#include <map>
#include <set>
#include <string>

#include "daemon/fork_cmd_options.h"
#include "daemon/forked_child.h"
#include "daemon/pending_commands.h"
#include "driver/process_utils.h"
#include "ipc/mq_vm_message.h"
#include "model/command.h"

class EvForkCmd {
 public:
  // `prepare_child` runs first in every forked child (see ForkPrepare).
  EvForkCmd(struct ev_loop* loop, ForkPrepare prepare_child, ForkCmdOptions options = {});
  ~EvForkCmd();
  EvForkCmd(const EvForkCmd&) = delete;
  EvForkCmd& operator=(const EvForkCmd&) = delete;

  // Arms the watchdog.
  void start();
  void stop_watchers();

  // The intake of an untyped record (and of a confirm, handed on to
  // process_confirm); `text` is the record as received, for the answer to a
  // record that could not be read.
  void process_mq_message(const mq_vm_message& record, const std::string& text);
  void process_confirm(const mq_vm_message& record);

  // Answers every waiting command with a failure (the daemon is ending).
  void abandon_all(const std::string& reason);

  const PendingCommands& pending() const { return pending_; }

 private:
  // The VM's wrapper and hypervisor; a wrapper whose run has been reported
  // over and that is only exiting does not count.
  ProcessPair vm_processes(const std::string& vm_id);
  // The VM's run is over: its wrapper only exits from now on.
  void retire_wrapper(const std::string& vm_id);

  // Intake.
  void process_vm_command(const mq_vm_message& record);
  void process_vm_exit(const mq_vm_message& record);
  void process_pool_status(const mq_vm_message& record);
  void answer_unreadable(const mq_vm_message& record, const std::string& text);

  // Operations; each answers the record itself when it cannot go on.
  void start_vm(const mq_vm_message& record, VmCommandWord word);
  void stop_vm(const mq_vm_message& record, VmCommandWord word);
  void suspend_vm(const mq_vm_message& record, VmCommandWord word);
  void pause_vm(const mq_vm_message& record, VmCommandWord word);

  // The start command of a VM from its stored record; "" or why not.
  std::string make_start(const std::string& vm_id, VmCommandWord word, int64_t timeout_s,
                         const std::string& reply_fifo, std::string& pool, _command& command);
  pid_t launch_wrapper(const _command& command);
  // Starts the VM of `pending` again (restart, guest reset): forks its wrapper
  // and waits for the confirmation. False (answered, removed) when it cannot.
  bool start_again(PendingCommand& pending, const std::string& context);

  // What comes back.
  void on_confirmed(PendingCommand& pending, int32_t status);
  void on_suspend_result(PendingCommand& pending, int32_t status);
  void on_vm_down(PendingCommand& pending, int32_t status);
  void restart_after_reset(const std::string& vm_id);
  void finish_suspend(const std::string& vm_id);

  // Watchdog.
  static void watchdog_cb(struct ev_loop* loop, ev_timer* watcher, int revents);
  void check_pending();
  void on_watched_process_gone(PendingCommand& pending);

  // Answers and removes the VM's pending command.
  void finish(const std::string& vm_id, int64_t status, const std::string& text);
  double now() const;

  struct ev_loop* loop_;
  ForkPrepare prepare_child_;
  ForkCmdOptions options_;
  PendingCommands pending_;
  // VMs whose start failed to confirm while their wrapper went on: the exit
  // report of that run is not taken as a guest reset.
  std::set<std::string> unconfirmed_runs_;
  // The wrapper of each VM run that this daemon started or stopped, and of
  // each run whose end has been reported while its wrapper still exits.
  std::map<std::string, pid_t> wrapper_of_;
  std::map<std::string, pid_t> ending_wrapper_;
  ev_timer watchdog_{};
};
