#include "sim/libvmmapi/vmm_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/include/sim_fd.h"
#include "sim/include/vmm_sim_protocol.h"

namespace vmm_sim {
namespace {

int fail(int err) {
  errno = err;
  return -1;
}

long long now_ms() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

// Reads up to the first "\n" (not kept) before the deadline.
int read_line(int fd, long long deadline, std::string* line) {
  char buf[4096];
  for (;;) {
    size_t nl = line->find('\n');
    if (nl != std::string::npos) {
      line->resize(nl);
      return 0;
    }
    long long left = deadline - now_ms();
    if (left <= 0) return fail(ETIMEDOUT);
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) return fail(ETIMEDOUT);
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) return fail(EPROTO);  // closed before a whole reply
    line->append(buf, static_cast<size_t>(n));
  }
}

}  // namespace

int transact(const std::string& node, const std::string& request, std::string* payload,
             int timeout_ms) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (node.size() >= sizeof addr.sun_path) return fail(ENAMETOOLONG);
  std::memcpy(addr.sun_path, node.c_str(), node.size() + 1);

  sim::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return -1;
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return -1;

  long long deadline = now_ms() + timeout_ms;
  if (!send_all(fd.get(), request + "\n")) return -1;
  std::string line;
  if (read_line(fd.get(), deadline, &line) != 0) return -1;

  if (line == "OK" || line.rfind("OK ", 0) == 0) {
    if (payload) *payload = line.size() > 3 ? unescape(std::string_view(line).substr(3)) : "";
    return 0;
  }
  if (line.rfind("ERR ", 0) == 0) {
    int err = std::atoi(line.c_str() + 4);
    return fail(err > 0 ? err : EIO);
  }
  return fail(EPROTO);
}

}  // namespace vmm_sim
