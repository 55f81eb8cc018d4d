#include "ipc/fifo_writer.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fmt/format.h>

#include "ipc/fifo.h"

namespace {

// Holds SIGPIPE back in this thread while writing, so that a reader that goes
// away gives EPIPE instead of ending the process, and swallows the signal that
// the write raised.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~SigpipeBlock() {
    if (!was_pending_) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
        const timespec zero{};
        while (sigtimedwait(&pipe_, nullptr, &zero) < 0 && errno == EINTR) {
        }
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;

 private:
  sigset_t pipe_;
  sigset_t old_;
  bool was_pending_ = false;
};

}  // namespace

std::string fifo_write_answer(const std::string& path, const std::string& text, int timeout_ms) {
  Fifo fifo;
  if (!fifo.open(false, path)) {
    if (errno == ENXIO) return fmt::format("no reader on FIFO '{}'", path);
    if (errno == ENOTSUP) return fmt::format("'{}' is not a FIFO", path);
    return fmt::format("Can't open FIFO '{}': {}", path, std::strerror(errno));
  }
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  SigpipeBlock block;
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fifo.fd(), text.data() + done, text.size() - done);
    if (n >= 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EPIPE) return fmt::format("the reader of FIFO '{}' went away", path);
    if (errno != EAGAIN) return fmt::format("FIFO '{}' write error: {}", path, std::strerror(errno));
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0)
      return fmt::format("FIFO '{}' not read within {} ms", path, timeout_ms);
    pollfd p{fifo.fd(), POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR)
      return fmt::format("FIFO '{}' poll error: {}", path, std::strerror(errno));
  }
  return {};
}
