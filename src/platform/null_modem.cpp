#include "platform/null_modem.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "platform/host_root.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kChunk = 16384;
// How long a master that reported a hang-up or an error is left alone before
// the relay looks at it again (the relay's own slave descriptors make this a
// safeguard that normal operation never reaches).
constexpr auto kQuiet = std::chrono::milliseconds(50);

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

std::string errno_text(std::string_view what, int err) {
  return fmt::format("{}: {}", what, std::strerror(err));
}

std::string read_link(const std::string& path) {
  char buf[256];
  ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// Points the symbolic link `link` at `target` in one step. An existing link is
// replaced; any other existing file is refused. 0 or an errno value.
int place_link(const std::string& target, const std::string& link) {
  static std::atomic<unsigned> counter{0};
  struct stat st {};
  if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) return EEXIST;
  std::string tmp = fmt::format("{}.new.{}.{}", link, ::getpid(), counter++);
  if (::symlink(target.c_str(), tmp.c_str()) != 0) return errno;
  if (::rename(tmp.c_str(), link.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    return err;
  }
  return 0;
}

}  // namespace

struct NullModemPair::Impl {
  struct Side {
    std::string real;  // the device path as given
    std::string link;  // the same, mapped under the host root
    std::string pts;   // the slave device the link names
    Fd master;
    Fd held;  // the relay's own slave descriptor: the side never hangs up
    int watch = -1;
    int users = 0;  // open descriptions of the slave besides `held`
    bool linked = false;
    Clock::time_point quiet_until{};
  };

  // Bytes read from one master and not yet written to the other.
  struct Flow {
    Side* from;
    Side* to;
    std::array<char, kChunk> buf{};
    size_t begin = 0;
    size_t end = 0;
    bool empty() const { return begin == end; }
    void clear() { begin = end = 0; }
  };

  std::array<Side, 2> sides;
  Fd watches;                 // inotify: opens and closes of the slaves
  bool users_known = false;   // false: every side counts as used
  Fd wake_read, wake_write;   // a byte here stops the relay
  std::unique_ptr<std::thread> relay;
  pid_t owner = ::getpid();

  ~Impl();
  std::string open_side(Side& side);
  std::string start_relay();
  void run();
  void read_watches();
  void fill(Flow& flow);
  void drain(Flow& flow);
  bool quiet(const Side& side, Clock::time_point now) const { return now < side.quiet_until; }
  bool unused(const Side& side) const { return users_known && side.users == 0; }
};

NullModemPair::Impl::~Impl() {
  if (::getpid() != owner) {
    // A forked child's copy: the relay thread does not exist here and the
    // links belong to the owner. Only this process's descriptors are closed.
    (void)relay.release();
    return;
  }
  if (relay) {
    char byte = 0;
    while (::write(wake_write.get(), &byte, 1) < 0 && errno == EINTR) {
    }
    relay->join();
  }
  for (Side& side : sides) {
    if (side.linked && read_link(side.link) == side.pts) ::unlink(side.link.c_str());
  }
}

std::string NullModemPair::Impl::open_side(Side& side) {
  side.master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (side.master.get() < 0) return errno_text("posix_openpt", errno);
  int m = side.master.get();
  if (::grantpt(m) != 0) return errno_text("grantpt", errno);
  if (::unlockpt(m) != 0) return errno_text("unlockpt", errno);
  char name[128];
  if (int err = ::ptsname_r(m, name, sizeof name); err != 0) return errno_text("ptsname", err);
  side.pts = name;
  if (::fcntl(m, F_SETFD, FD_CLOEXEC) != 0 ||
      ::fcntl(m, F_SETFL, ::fcntl(m, F_GETFL) | O_NONBLOCK) != 0)
    return errno_text("fcntl", errno);

  side.held.reset(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (side.held.get() < 0) return errno_text(fmt::format("open {}", name), errno);
  termios tio{};
  if (::tcgetattr(side.held.get(), &tio) != 0) return errno_text("tcgetattr", errno);
  ::cfmakeraw(&tio);
  ::cfsetspeed(&tio, B115200);
  tio.c_cflag |= CLOCAL;
  if (::tcsetattr(side.held.get(), TCSANOW, &tio) != 0) return errno_text("tcsetattr", errno);

  if (int err = place_link(side.pts, side.link); err != 0)
    return errno_text(fmt::format("link {}", side.link), err);
  side.linked = true;
  return {};
}

std::string NullModemPair::Impl::start_relay() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return errno_text("pipe", errno);
  wake_read.reset(fds[0]);
  wake_write.reset(fds[1]);

  // Without the watches the relay cannot tell a side without users; it then
  // passes everything on and holds writers up when a side's queue is full.
  watches.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  users_known = watches.get() >= 0;
  for (Side& side : sides) {
    if (!users_known) break;
    side.watch = ::inotify_add_watch(watches.get(), side.pts.c_str(), IN_OPEN | IN_CLOSE);
    users_known = side.watch >= 0;
  }
  if (!users_known) {
    spdlog::warn("null modem {}: cannot watch its users ({}); data for a closed side is kept",
                 sides[0].real, std::strerror(errno));
    watches.reset();
  }

  // The relay takes no signals: they stay with the threads that expect them.
  sigset_t all, old;
  ::sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &old);
  std::string error;
  try {
    relay = std::make_unique<std::thread>([this] { run(); });
    ::pthread_setname_np(relay->native_handle(), "nmdm-relay");
  } catch (const std::system_error& e) {
    error = fmt::format("relay thread: {}", e.what());
  }
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return error;
}

void NullModemPair::Impl::read_watches() {
  alignas(inotify_event) char buf[4096];
  for (;;) {
    ssize_t n = ::read(watches.get(), buf, sizeof buf);
    if (n <= 0) return;
    for (ssize_t at = 0; at < n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
      if (ev->mask & IN_Q_OVERFLOW) {
        spdlog::warn("null modem {}: lost track of its users", sides[0].real);
        users_known = false;
      }
      for (Side& side : sides) {
        if (ev->wd != side.watch) continue;
        if (ev->mask & IN_OPEN) ++side.users;
        if ((ev->mask & IN_CLOSE) && side.users > 0 && --side.users == 0 && users_known)
          ::tcflush(side.held.get(), TCIFLUSH);  // as a last close drops unread input
      }
    }
  }
}

void NullModemPair::Impl::fill(Flow& flow) {
  ssize_t n = ::read(flow.from->master.get(), flow.buf.data(), flow.buf.size());
  if (n > 0) {
    flow.begin = 0;
    flow.end = static_cast<size_t>(n);
  } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
    flow.from->quiet_until = Clock::now() + kQuiet;  // EIO: no slave open
  }
}

void NullModemPair::Impl::drain(Flow& flow) {
  if (flow.empty()) return;
  // The open of a new user is queued before anything it could answer: look
  // at the latest events before discarding.
  if (unused(*flow.to)) read_watches();
  if (unused(*flow.to)) {
    flow.clear();
    return;
  }
  if (quiet(*flow.to, Clock::now())) return;
  ssize_t n = ::write(flow.to->master.get(), flow.buf.data() + flow.begin, flow.end - flow.begin);
  if (n > 0) {
    flow.begin += static_cast<size_t>(n);
    if (flow.empty()) flow.clear();
  } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
    spdlog::debug("null modem {}: write failed: {}", flow.to->real, std::strerror(errno));
    flow.clear();
    flow.to->quiet_until = Clock::now() + kQuiet;
  }
}

void NullModemPair::Impl::run() {
  std::array<Flow, 2> flows{Flow{&sides[0], &sides[1]}, Flow{&sides[1], &sides[0]}};
  for (;;) {
    Clock::time_point now = Clock::now();
    std::array<pollfd, 4> fds{};
    fds[0] = {wake_read.get(), POLLIN, 0};
    fds[1] = {users_known ? watches.get() : -1, POLLIN, 0};
    int timeout = -1;
    for (size_t i = 0; i < 2; ++i) {
      const Side& side = sides[i];
      if (quiet(side, now)) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(side.quiet_until - now).count();
        timeout = timeout < 0 ? static_cast<int>(left) : std::min(timeout, static_cast<int>(left));
        fds[2 + i] = {-1, 0, 0};
        continue;
      }
      short events = 0;
      if (flows[i].empty()) events |= POLLIN;
      if (!flows[1 - i].empty()) events |= POLLOUT;
      fds[2 + i] = {side.master.get(), events, 0};
    }
    int n = ::poll(fds.data(), fds.size(), timeout);
    if (n < 0) {
      if (errno == EINTR) continue;
      spdlog::error("null modem {}: poll failed: {}", sides[0].real, std::strerror(errno));
      ::poll(nullptr, 0, static_cast<int>(kQuiet.count()));
      continue;
    }
    if (fds[0].revents != 0) return;
    if (fds[1].revents != 0) read_watches();
    for (size_t i = 0; i < 2; ++i) {
      short revents = fds[2 + i].revents;
      if ((revents & (POLLHUP | POLLERR | POLLNVAL)) && !(revents & POLLIN))
        sides[i].quiet_until = Clock::now() + kQuiet;
      else if ((revents & POLLIN) && flows[i].empty())
        fill(flows[i]);
    }
    for (Flow& flow : flows) drain(flow);
  }
}

NullModemPair::NullModemPair(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
NullModemPair::~NullModemPair() = default;
NullModemPair::NullModemPair(NullModemPair&& other) noexcept = default;
NullModemPair& NullModemPair::operator=(NullModemPair&& other) noexcept = default;

const std::string& NullModemPair::side_a() const { return impl_->sides[0].real; }
const std::string& NullModemPair::side_b() const { return impl_->sides[1].real; }

std::optional<NullModemPair> NullModemPair::create(std::string_view side_a,
                                                   std::string_view side_b, std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<NullModemPair> {
    if (error) *error = fmt::format("null modem {} / {}: {}", side_a, side_b, why);
    return std::nullopt;
  };
  auto impl = std::make_unique<Impl>();
  impl->sides[0].real = side_a;
  impl->sides[1].real = side_b;
  for (Impl::Side& side : impl->sides) side.link = host_path(side.real);
  if (side_a.empty() || side_b.empty() || impl->sides[0].link == impl->sides[1].link)
    return fail("the two sides need two paths");
  for (Impl::Side& side : impl->sides) {
    if (std::string why = impl->open_side(side); !why.empty()) return fail(why);
  }
  if (std::string why = impl->start_relay(); !why.empty()) return fail(why);
  return NullModemPair(std::move(impl));
}

}  // namespace platform
