// Test support: a host root with the stand-in storage target and initiator
// service running in it (SIM_SPDK_TGT and SIM_NVMF_INITIATOR: their paths,
// defined by the test program's CMakeLists.txt), plain clients of both that
// share no code with the program's, and zvol files for them to export.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/host_root.h"
#include "tests/support/child_process.h"
#include "tests/support/eventually.h"
#include "tests/support/temp_root.h"

namespace test_support {

// One request on a connection of its own; the parsed answer (null when none came).
inline nlohmann::json raw_call(const sockaddr* address, socklen_t length, int family, const std::string& method,
                               const nlohmann::json& params = nullptr) {
  int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  if (::connect(fd, address, length) != 0) {
    ::close(fd);
    return nullptr;
  }
  nlohmann::json request = {{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}};
  if (!params.is_null()) request["params"] = params;
  std::string text = request.dump(), got;
  ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
  pollfd p{fd, POLLIN, 0};
  while (!nlohmann::json::accept(got) && ::poll(&p, 1, 5000) == 1) {
    char buffer[65536];
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return nlohmann::json::parse(got, nullptr, false);
}

class NvmfStandIns {
 public:
  // With `initiator` false only the target runs. With `own_root` the
  // services get a fresh host root of their own; else they run in the
  // process's current one.
  // `address`: where the target listens.
  explicit NvmfStandIns(bool initiator = true, bool own_root = true, const std::string& address = "127.0.0.1") {
    if (own_root) root_.emplace();
    dir_ = platform::host_root();
    port_ = platform::host_port(7000);
    target_ = std::make_unique<ChildProcess>(SIM_SPDK_TGT, std::vector<std::string>{"spdk_tgt", "--address", address});
    if (initiator) {
      std::filesystem::create_directories(path("/var/run"));
      initiator_ = std::make_unique<ChildProcess>(SIM_NVMF_INITIATOR, std::vector<std::string>{"nvmf_initiator"});
    }
    // The answer must come from our own target: one that could not listen
    // has ended, whoever else answers on its port.
    ready_ = eventually([&] { return target("sim_stats").is_object(); }) && target_->running() &&
             (!initiator || eventually([&] { return this->initiator("list").is_object(); }));
  }

  bool ready() const { return ready_; }
  // The mapped path of a real host path.
  std::string path(const std::string& real) const { return dir_ + real; }
  int port() const { return port_; }

  nlohmann::json target(const std::string& method, const nlohmann::json& params = nullptr) const {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port_));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return raw_call(reinterpret_cast<sockaddr*>(&sa), sizeof sa, AF_INET, method, params);
  }
  // The "result" of a target method (null on an error answer).
  nlohmann::json target_result(const std::string& method, const nlohmann::json& params = nullptr) const {
    nlohmann::json answer = target(method, params);
    return answer.is_object() ? answer.value("result", nlohmann::json()) : nlohmann::json();
  }
  nlohmann::json initiator(const std::string& method, const nlohmann::json& params = nullptr) const {
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::string socket = path("/var/run/ombrix_nvmf_initiator.sock");
    socket.copy(sa.sun_path, sizeof sa.sun_path - 1);
    return raw_call(reinterpret_cast<sockaddr*>(&sa), sizeof sa, AF_UNIX, method, params);
  }

  // Tells the target to get the next answers of `method` wrong.
  void fault(const std::string& method, const std::string& kind, nlohmann::json extra = nlohmann::json::object()) const {
    extra["method"] = method;
    extra["kind"] = kind;
    target("sim_fault", extra);
  }
  // The storage methods the target received since the last call.
  nlohmann::json requests() const { return target_result("sim_requests", {{"clear", true}}); }
  int64_t connections() const { return target_result("sim_stats").value("connections", int64_t{-1}); }

  // A zvol file "/dev/zvol/<dataset>" of the host.
  std::string make_zvol(const std::string& dataset, const std::string& content = "zvol") const {
    std::string file = path("/dev/zvol/" + dataset);
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file) << content;
    return file;
  }

 private:
  std::optional<TempRoot> root_;
  std::string dir_;
  int port_ = 0;
  std::unique_ptr<ChildProcess> target_;
  std::unique_ptr<ChildProcess> initiator_;
  bool ready_ = false;
};

}  // namespace test_support
