#include "sim/bhyve/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

namespace bhyve_sim {
namespace {

constexpr size_t kMaxKept = 1 << 20;
constexpr int kSendWaitMs = 1000;

}  // namespace

SerialPort::SerialPort(struct ev_loop* loop, std::string name, std::function<void()> on_input)
    : name_(std::move(name)), on_input_(std::move(on_input)), watcher_(loop) {}

SerialPort::~SerialPort() { watcher_.stop(); }

bool SerialPort::open(const std::string& path, std::string* error) {
  fd_.reset(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd_) {
    *error = fmt::format("{}: cannot open {}: {}", name_, path, std::strerror(errno));
    return false;
  }
  struct stat st{};
  ::fstat(fd_.get(), &st);
  if (::isatty(fd_.get())) {
    termios tio{};
    if (::tcgetattr(fd_.get(), &tio) == 0) {
      ::cfmakeraw(&tio);
      ::cfsetspeed(&tio, B115200);
      ::tcsetattr(fd_.get(), TCSANOW, &tio);
    }
  }
  if (S_ISREG(st.st_mode)) {
    ::lseek(fd_.get(), 0, SEEK_END);
    return true;  // nothing to read from a plain file
  }
  log_fd_.reset(::open(fmt::format("bhyve-sim.{}.in", name_).c_str(),
                       O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  watcher_.set<SerialPort, &SerialPort::read_cb>(this);
  watcher_.start(fd_.get(), ev::READ);
  return true;
}

bool SerialPort::send(const std::string& text) {
  if (!fd_) return false;
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd_.get(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd p{fd_.get(), POLLOUT, 0};
      if (::poll(&p, 1, kSendWaitMs) <= 0) return false;
      continue;
    }
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void SerialPort::read_cb(ev::io& watcher, int) {
  char buf[4096];
  ssize_t n = ::read(fd_.get(), buf, sizeof buf);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    // The host side is gone (EOF, or EIO on a terminal without its master):
    // stop reading rather than spin; a later connection is not watched.
    watcher.stop();
    return;
  }
  if (log_fd_) (void)!::write(log_fd_.get(), buf, static_cast<size_t>(n));
  received_.append(buf, static_cast<size_t>(n));
  if (received_.size() > kMaxKept) received_.erase(0, received_.size() - kMaxKept);
  if (on_input_) on_input_();
}

}  // namespace bhyve_sim
