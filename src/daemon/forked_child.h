// The daemon's forked children: a VM's wrapper (start, resume, restart) and
// the workers of long operations (suspend). Each leaves the daemon's loop and
// queue behind, detaches from the daemon's session and descriptors, and runs
// its body; the daemon does not wait for it (its loop reaps it).
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

// Stops the daemon's watchers, closes its queue and marks the loop for use in
// the child (ev_loop_fork); runs first in every child.
using ForkPrepare = std::function<void()>;

// Forks. The child: runs `prepare`, takes the title `title`, resets the
// signal mask and the dispositions of SIGHUP, SIGINT and SIGTERM, starts a
// session of its own, changes to the host's "/", points descriptors 0, 1 and 2
// at "/dev/null", runs `body` and exits with its result. Returns the child's
// pid, or -1 when the fork failed (errno kept).
pid_t fork_detached(const std::string& title, const ForkPrepare& prepare,
                    const std::function<int()>& body);
