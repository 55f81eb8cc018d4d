#include "nvmf/nvmf_initiator_manager.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

#include <nlohmann/json.hpp>

#include "nvmf/answer_text.h"
#include "nvmf/request_builders.h"
#include "platform/host_root.h"

namespace nvmf {
namespace {

constexpr const char* kSocketPath = "/var/run/ombrix_nvmf_initiator.sock";
constexpr size_t kReadSize = 65536;
std::atomic<int> answer_wait_ms{30000};

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Reads until the text is complete JSON, the peer closes, or the wait ends.
void read_answer(int fd, std::string& answer) {
  std::string buffer(kReadSize, '\0');
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(answer_wait_ms.load());
  while (!nlohmann::json::accept(answer)) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    pollfd p{fd, POLLIN, 0};
    int rc = ::poll(&p, 1, static_cast<int>(left.count()));
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) throw std::system_error(errno, std::generic_category(), "poll");
    if (rc == 0) return;
    ssize_t n = ::read(fd, buffer.data(), kReadSize);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::system_error(errno, std::generic_category(), "read");
    if (n == 0) return;
    answer.append(buffer.data(), static_cast<size_t>(n));
  }
}

}  // namespace

void set_initiator_answer_wait(std::chrono::milliseconds wait) {
  answer_wait_ms = static_cast<int>(wait.count());
}

bool nvmf_initiator_manager::exchange(const std::string& request, std::string& answer, const std::string&) {
  Socket sock(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (sock.get() < 0) {
    answer = error_object("Error open socket!", false);
    return false;
  }
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  std::string path = platform::host_path(kSocketPath);
  if (path.size() >= sizeof sa.sun_path ||
      (path.copy(sa.sun_path, path.size()),
       ::connect(sock.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)) {
    answer = error_object("Error bind socket!", false);
    return false;
  }
  ssize_t sent = ::send(sock.get(), request.data(), request.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent != static_cast<ssize_t>(request.size())) {
    answer = error_object("Error send JSON-RPC to socket!", false);
    return false;
  }
  answer.clear();
  read_answer(sock.get(), answer);

  nlohmann::json parsed;
  if (!parse_answer(answer, parsed)) {
    unexpected_answer_error("answer is not a JSON object", answer);
    return false;
  }
  return !parsed.contains("error");
}

std::string nvmf_initiator_manager::create(const std::string& nqn, const std::string& target, std::string& answer,
                                           const std::string& host_nqn) {
  if (!exchange(initiator_create_request(nqn, target, host_nqn), answer, "127.0.0.1")) return "";
  nlohmann::json parsed;
  if (!parse_answer(answer, parsed)) {
    unexpected_answer_error("answer is not a JSON object", answer);
    return "";
  }
  nlohmann::json result = parsed.contains("result") && parsed["result"].is_object() ? parsed["result"]
                                                                                    : nlohmann::json::object();
  std::string device = result.contains("dev") && result["dev"].is_string() ? result["dev"].get<std::string>() : "";
  if (device.empty()) unexpected_answer_error("session answer carries no device name", answer);
  return device;
}

bool nvmf_initiator_manager::destroy(const std::string& nqn, const std::string& target, std::string& answer) {
  return exchange(initiator_destroy_request(nqn, target), answer, "127.0.0.1");
}

bool nvmf_initiator_manager::list(std::string& answer) {
  return exchange(initiator_list_request(), answer, "127.0.0.1");
}

}  // namespace nvmf
