#include "sim/bhyve/migration.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "sim/include/vmm_sim_protocol.h"

namespace bhyve_sim {
namespace {

constexpr int kStreamTimeoutSec = 10;
constexpr uint64_t kMaxStream = 16u << 20;

void set_timeouts(int fd) {
  timeval tv{kStreamTimeoutSec, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// Reads one line (without "\n"); false on error, end or an over-long line.
bool read_line(int fd, std::string* line) {
  line->clear();
  char c;
  for (;;) {
    ssize_t n = ::recv(fd, &c, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (c == '\n') return true;
    if (line->size() > 4096) return false;
    *line += c;
  }
}

bool read_exact(int fd, std::string* data, size_t size) {
  data->assign(size, '\0');
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::recv(fd, data->data() + done, size - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Receives one stream on the connected socket `fd`; "" when it was taken.
std::string receive_stream(int fd, Settings* config) {
  std::string line;
  if (!read_line(fd, &line)) return "the stream ended before its header";
  std::string prefix = std::string(vmm_sim::stream_magic) + " ";
  if (line.rfind(prefix, 0) != 0) return fmt::format("not a migration stream: '{}'", line);
  auto length = parse_number(line.substr(prefix.size()), 0, kMaxStream);
  if (!length) return fmt::format("bad stream length in '{}'", line);
  std::string text;
  if (!read_exact(fd, &text, static_cast<size_t>(*length))) return "the stream ended early";
  *config = parse_settings_text(text);
  return "";
}

}  // namespace

std::optional<std::string> send_migration_stream(const std::string& address, int port,
                                                 const Settings& config) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int rc = ::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0) return fmt::format("{}: {}", address, ::gai_strerror(rc));
  std::string error = "no address";
  sim::UniqueFd fd;
  for (addrinfo* ai = found; ai; ai = ai->ai_next) {
    fd.reset(::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol));
    if (!fd) continue;
    set_timeouts(fd.get());
    if (::connect(fd.get(), ai->ai_addr, ai->ai_addrlen) == 0) break;
    error = std::strerror(errno);
    fd.reset();
  }
  ::freeaddrinfo(found);
  if (!fd) return fmt::format("cannot reach {}:{}: {}", address, port, error);

  std::string text = settings_text(config);
  std::string header = fmt::format("{} {}\n", vmm_sim::stream_magic, text.size());
  if (!vmm_sim::send_all(fd.get(), header + text))
    return fmt::format("sending to {}:{}: {}", address, port, std::strerror(errno));
  std::string answer;
  if (!read_line(fd.get(), &answer)) return fmt::format("{}:{} gave no answer", address, port);
  if (answer != "OK") return fmt::format("{}:{} refused the VM: {}", address, port, answer);
  return std::nullopt;
}

MigrationReceiver::MigrationReceiver(struct ev_loop* loop, Done on_done)
    : watcher_(loop), on_done_(std::move(on_done)) {}

MigrationReceiver::~MigrationReceiver() { watcher_.stop(); }

bool MigrationReceiver::listen(int port, std::string* error) {
  listen_fd_.reset(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  bool v6 = listen_fd_.valid();
  if (!v6) listen_fd_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listen_fd_) {
    *error = fmt::format("socket: {}", std::strerror(errno));
    return false;
  }
  int one = 1, zero = 0;
  ::setsockopt(listen_fd_.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  int rc;
  if (v6) {
    ::setsockopt(listen_fd_.get(), IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_any;
    addr.sin6_port = htons(static_cast<uint16_t>(port));
    rc = ::bind(listen_fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  } else {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    rc = ::bind(listen_fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  }
  if (rc != 0 || ::listen(listen_fd_.get(), 1) != 0) {
    *error = fmt::format("migration port {}: {}", port, std::strerror(errno));
    return false;
  }
  watcher_.set<MigrationReceiver, &MigrationReceiver::accept_cb>(this);
  watcher_.start(listen_fd_.get(), ev::READ);
  return true;
}

void MigrationReceiver::accept_cb(ev::io& watcher, int) {
  sim::UniqueFd fd(::accept4(listen_fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!fd) return;
  watcher.stop();
  set_timeouts(fd.get());
  Settings config;
  std::string error = receive_stream(fd.get(), &config);
  if (error.empty()) error = on_done_(std::move(config), "");
  else on_done_(std::nullopt, error);
  // The sender's VM ends on "OK", so it goes out only once the VM was taken.
  vmm_sim::send_all(fd.get(), error.empty() ? "OK\n" : "ERR " + error + "\n");
  listen_fd_.reset();
}

}  // namespace bhyve_sim
