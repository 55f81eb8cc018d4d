#include "sim/nvmf_initiator/target_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fmt/format.h>

namespace initiator_sim {

TargetAnswer call_target(const std::string& address, int port, const std::string& method,
                         const nlohmann::json& params, int timeout_ms) {
  TargetAnswer answer;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
    answer.error = fmt::format("Bad target address {}", address);
    return answer;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    if (fd >= 0) ::close(fd);
    answer.error = fmt::format("Cannot connect to target {}:{}", address, port);
    return answer;
  }
  nlohmann::json request = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}};
  if (!params.is_null()) request["params"] = params;
  std::string text = request.dump();
  std::string got;
  if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size())) {
    pollfd p{fd, POLLIN, 0};
    while (!nlohmann::json::accept(got) && ::poll(&p, 1, timeout_ms) == 1) {
      char buffer[65536];
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  nlohmann::json parsed = nlohmann::json::parse(got, nullptr, false);
  if (!parsed.is_object()) {
    answer.error = fmt::format("Target {}:{} gave no answer to {}", address, port, method);
  } else if (parsed.contains("error")) {
    answer.error = parsed["error"].value("message", std::string("target error"));
  } else {
    answer.ok = true;
    answer.result = parsed.value("result", nlohmann::json());
  }
  return answer;
}

}  // namespace initiator_sim
