// One RTTY connection: the client socket and the console device joined byte
// for byte in both directions by a loop of the bridge's own, until end of file
// on either side, a failed write or SIGPIPE.
#pragma once

#include <atomic>
#include <memory>

#include <ev++.h>

#include "ipc/unique_fd.h"

// True while a connection is bridged; shared by the listening thread and the
// bridge it started.
using RttyBusyFlag = std::shared_ptr<std::atomic<bool>>;

// One direction of a bridge: bytes read from `from` are written to `to`.
// The read watcher waits for readiness, the idle watcher copies one byte per
// loop iteration, the SIGPIPE watcher ends the bridge on a broken write.
struct RttyDirection {
  int from = -1;
  int to = -1;
  ev::io reader;
  ev::idle copier;
  ev::sig sigpipe;
};

// The bridge thread's body. Takes the client and the device over; whatever
// way the bridge ends, both are closed and `busy` is cleared afterwards.
void rtty_bridge(RttyBusyFlag busy, UniqueFd client, UniqueFd device);

// The callbacks of the bridge's loop (`data` of each watcher is its
// RttyDirection).
void rtty_read_cb(ev::io& watcher, int revents);
void rtty_copy_cb(ev::idle& watcher, int revents);
void rtty_sigpipe_cb(ev::sig& watcher, int revents);
