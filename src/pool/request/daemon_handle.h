// The daemon process that answers this host's requests, as a handle that
// follows that very process (see platform::ProcessHandle): a request waits
// for the answer only while its daemon lives.
#pragma once

#include "platform/process_handle.h"

// A handle on this host's daemon ("Ombrix QTR (daemon)"); this process itself
// is left out (a pool worker forked from the daemon carries its title), and
// so are the daemon's fresh children that still carry it. A daemon that is
// this process's parent comes first. Not valid() when no daemon runs.
platform::ProcessHandle open_daemon_handle();
