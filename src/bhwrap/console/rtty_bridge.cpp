#include "bhwrap/console/rtty_bridge.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

#include <spdlog/spdlog.h>

namespace {

// Wake-ups are batched so that a burst of console output is not handled one
// loop iteration per byte.
constexpr double kIoCollectInterval = 0.05;

// A read that failed this way is tried again at the next readiness; any
// other failure (a hung-up device, a reset connection) keeps the descriptor
// ready for ever, so it ends the bridge like end of file.
bool read_again_later(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

sigset_t sigpipe_only() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  return set;
}

// SIGPIPE is delivered to this thread while the bridge runs. Afterwards it is
// blocked again and its disposition is put back: stopping the loop's signal
// watchers resets it to the default action, which would let a later broken
// pipe anywhere in the process end the process.
class SigpipeDelivered {
 public:
  SigpipeDelivered() {
    sigset_t set = sigpipe_only();
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::sigaction(SIGPIPE, nullptr, &disposition_);
  }
  ~SigpipeDelivered() {
    sigset_t set = sigpipe_only();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    ::sigaction(SIGPIPE, &disposition_, nullptr);
  }
  SigpipeDelivered(const SigpipeDelivered&) = delete;
  SigpipeDelivered& operator=(const SigpipeDelivered&) = delete;

 private:
  struct sigaction disposition_ {};
};

void break_loop(struct ev_loop* loop) { ev_break(loop, EVBREAK_ALL); }

void run_bridge(int client, int device) {
  SigpipeDelivered sigpipe;
  ev::dynamic_loop loop(EVFLAG_NOENV | EVFLAG_NOSIGMASK);
  loop.set_io_collect_interval(kIoCollectInterval);

  RttyDirection directions[2];
  directions[0].from = client;
  directions[0].to = device;
  directions[1].from = device;
  directions[1].to = client;
  for (RttyDirection& d : directions) {
    d.reader.set(loop);
    d.reader.set<rtty_read_cb>(&d);
    d.copier.set(loop);
    d.copier.set<rtty_copy_cb>(&d);
    d.sigpipe.set(loop);
    d.sigpipe.set<rtty_sigpipe_cb>(&d);
    d.reader.start(d.from, ev::READ);
    d.sigpipe.start(SIGPIPE);
  }

  loop.run(0);

  for (RttyDirection& d : directions) {
    d.reader.stop();
    d.copier.stop();
    d.sigpipe.stop();
  }
}

}  // namespace

void rtty_read_cb(ev::io& watcher, int) {
  auto* direction = static_cast<RttyDirection*>(watcher.data);
  watcher.stop();
  direction->copier.start();
}

void rtty_copy_cb(ev::idle& watcher, int) {
  auto* direction = static_cast<RttyDirection*>(watcher.data);
  watcher.stop();
  unsigned char byte = 0;
  ssize_t got = ::read(direction->from, &byte, 1);
  if (got == 0 || (got < 0 && !read_again_later(errno))) {
    spdlog::debug("RTTY: connection is broken (READ)");
    break_loop(watcher.loop);
    return;
  }
  if (got == 1) {
    // A byte whose write fails otherwise (e.g. a full buffer) is dropped,
    // as on a serial line without flow control.
    ssize_t put = ::write(direction->to, &byte, 1);
    if (put == 0 || (put < 0 && errno == EPIPE)) {
      spdlog::debug("## RTTY: connection is broken (WRITE)");
      break_loop(watcher.loop);
      return;
    }
    watcher.start();
  }
  if (!watcher.is_active()) direction->reader.start();
}

void rtty_sigpipe_cb(ev::sig& watcher, int) {
  watcher.stop();
  spdlog::debug("## RTTY: connection is broken (WRITE, SIGPIPE).");
  break_loop(watcher.loop);
}

void rtty_bridge(RttyBusyFlag busy, UniqueFd client, UniqueFd device) {
  try {
    run_bridge(client.get(), device.get());
  } catch (const std::exception& e) {
    spdlog::error("### RTTY: Bridge failed: {}. Connection closed", e.what());
  }
  device.reset();
  client.reset();
  busy->store(false);
}
