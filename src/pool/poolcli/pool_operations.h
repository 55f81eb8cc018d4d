// The pool operations: start, stop, suspend, resume and unshare every VM of a
// pool. They run in the command-line process ("ombrix-vm pool ...") and in
// the daemon's forked pool workers, never in the daemon itself (they run the
// per-VM requests on an OpenMP team).
//
// Each one checks the pool (its state directory readable, the pool imported),
// takes the pool's lock file (a second operation on the pool is "busy"),
// refuses a pool in the wrong state, sets the pool's marks before any VM is
// touched, tells the daemon (which has the AMQP daemon consume the pool's
// queue or not), then sends one request per VM and waits for its answer, all
// VMs at once (`parallel`) or one after the other in the list's order. A VM
// that fails never stops the others: the failed ids are the result's text.
// With `takeback` a stop or suspend that failed for some VM is undone (the
// daemon's pool workers ask for it).
#pragma once

#include <string>

#include "pool/state/pool_error.h"

// `param` non-empty ("--no-service"): the service VMs are left alone.
// Without `wait_for_replies` the starts are sent without waiting.
pool_op_result run_pool_start(const std::string& pool, const std::string& param, bool parallel,
                              bool wait_for_replies);
pool_op_result run_pool_stop(const std::string& pool, const std::string& param, bool parallel,
                             bool takeback);
pool_op_result run_pool_suspend(const std::string& pool, bool parallel, bool takeback);
pool_op_result run_pool_resume(const std::string& pool, bool parallel);
pool_op_result run_pool_unshare(const std::string& pool, const std::string& param);

// Marks the pool started again after a failed stop or suspend; false (and the
// messages saying what that leaves) when the marks cannot be written.
bool pool_rollback_mark(const std::string& pool);
