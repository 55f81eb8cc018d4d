#include "sim/bhyve/node_server.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fmt/format.h>

#include "sim/include/vmm_sim_protocol.h"

namespace bhyve_sim {
namespace {

constexpr size_t kMaxRequest = 1 << 20;

bool fill_address(const std::string& path, sockaddr_un* addr, std::string* error) {
  *addr = {};
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path) {
    *error = fmt::format("node path too long for a socket: {}", path);
    return false;
  }
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// True when a process accepts connections on the socket at `path`.
bool someone_listens(const sockaddr_un& addr) {
  sim::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  return fd && ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
}

}  // namespace

NodeServer::NodeServer(struct ev_loop* loop, Handler handler, std::function<void()> after_reply)
    : accept_watcher_(loop), handler_(std::move(handler)), after_reply_(std::move(after_reply)) {}

NodeServer::~NodeServer() {
  accept_watcher_.stop();
  struct stat st{};
  if (!path_.empty() && ::lstat(path_.c_str(), &st) == 0 && st.st_ino == inode_)
    ::unlink(path_.c_str());
}

bool NodeServer::listen(const std::string& path, std::string* error) {
  sockaddr_un addr;
  if (!fill_address(path, &addr, error)) return false;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);

  struct stat st{};
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      *error = fmt::format("{} is a directory", path);
      return false;
    }
    if (S_ISSOCK(st.st_mode) && someone_listens(addr)) {
      *error = fmt::format("{}: the VM is already running", path);
      return false;
    }
    ::unlink(path.c_str());
  }

  listen_fd_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listen_fd_ ||
      ::bind(listen_fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_fd_.get(), 16) != 0) {
    *error = fmt::format("{}: {}", path, std::strerror(errno));
    return false;
  }
  if (::lstat(path.c_str(), &st) == 0) inode_ = st.st_ino;
  path_ = path;
  accept_watcher_.set<NodeServer, &NodeServer::accept_cb>(this);
  accept_watcher_.start(listen_fd_.get(), ev::READ);
  return true;
}

void NodeServer::accept_cb(ev::io&, int) {
  for (;;) {
    sim::UniqueFd fd(::accept4(listen_fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!fd) return;  // EAGAIN: nothing more waiting
    serve(fd.get());
    if (after_reply_) after_reply_();
  }
}

void NodeServer::serve(int fd) {
  // The client writes its line right after connecting; a client that does not
  // is dropped after a second.
  timeval tv{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  std::string line;
  char buf[4096];
  for (;;) {
    size_t nl = line.find('\n');
    if (nl != std::string::npos) {
      line.resize(nl);
      break;
    }
    if (line.size() > kMaxRequest) return;
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    line.append(buf, static_cast<size_t>(n));
  }
  vmm_sim::send_all(fd, handler_(line) + "\n");
}

}  // namespace bhyve_sim
