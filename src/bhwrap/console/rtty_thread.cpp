#include "bhwrap/console/rtty.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

#include <spdlog/spdlog.h>

#include "bhwrap/console/nmdm_path.h"
#include "bhwrap/console/rtty_bridge.h"
#include "ipc/unique_fd.h"
#include "model/vm_config.h"
#include "platform/host_root.h"
#include "platform/thread_name.h"

namespace {

constexpr int kListenBacklog = 2;

// While descriptors or buffers are exhausted every accept fails at once; a
// short pause keeps the listener from spinning until they are back.
constexpr auto kExhaustedPause = std::chrono::milliseconds(100);

std::string address_text(const in_addr& address) {
  char text[INET_ADDRSTRLEN] = {};
  if (!::inet_ntop(AF_INET, &address, text, sizeof text)) return "?";
  return text;
}

// The console's side of the null-modem pair, in raw mode at 115200 baud.
void make_raw(int device) {
  termios settings{};
  if (::tcgetattr(device, &settings) != 0) {
    spdlog::warn("### RTTY: Can't getting configure of NMDM. Trying as is");
    return;
  }
  ::cfmakeraw(&settings);
  ::cfsetispeed(&settings, B115200);
  ::cfsetospeed(&settings, B115200);
  ::tcsetattr(device, TCSAFLUSH, &settings);
  spdlog::debug("RTTY: NMDM is set to raw mode at 115200 baud");
}

// Opens the console device for a new client; an invalid descriptor when the
// client cannot be served (already logged).
UniqueFd open_console(const std::string& device) {
  UniqueFd fd(::open(platform::host_path(device).c_str(),
                     O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) {
    spdlog::error("### RTTY: Can't open device with bhyve: {}. Connection closed", device);
    return fd;
  }
  if (!::isatty(fd.get())) {
    spdlog::error("### RTTY: NMDM device {} is not a TTY", device);
    return UniqueFd();
  }
  make_raw(fd.get());
  return fd;
}

// Serves one accepted client: refused while another one is bridged,
// otherwise handed to a bridge thread of its own.
void serve(UniqueFd client, const RttyBusyFlag& busy, const std::string& device) {
  if (busy->exchange(true)) {
    spdlog::info("RTTY: Connection already established. Only one connection allowed");
    return;
  }
  UniqueFd console = open_console(device);
  if (!console) {
    busy->store(false);
    return;
  }
  try {
    // When the thread cannot start, its copies of the descriptors are
    // destroyed (closed) with the exception.
    std::thread(rtty_bridge, busy, std::move(client), std::move(console)).detach();
  } catch (const std::system_error& e) {
    spdlog::error("### RTTY: Can't start bridge: {}. Connection closed", e.what());
    busy->store(false);
  }
}

UniqueFd open_listener(const std::string& host, uint16_t port) {
  UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listener) {
    spdlog::error("### RTTY: Can't create socket");
    return listener;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    spdlog::error("### RTTY: Invalid host address: '{}'", host);
    return UniqueFd();
  }
  // A restarted wrapper takes its port back although connections of the
  // previous run still linger on it (TIME_WAIT).
  int on = 1;
  ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    int error = errno;
    spdlog::error("### RTTY: Can't binding socket");
    spdlog::error("### RTTY: port {} of {}: {}; the VM runs without its console", port, host,
                  std::strerror(error));
    return UniqueFd();
  }
  if (::listen(listener.get(), kListenBacklog) != 0) {
    spdlog::error("### RTTY: Can't listen socket");
    return UniqueFd();
  }
  spdlog::info("RTTY: Listen socket at {}:{}", address_text(address.sin_addr), port);
  return listener;
}

bool resources_exhausted(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

}  // namespace

void rtty_thread(const std::string& vm_id, const std::string& rtty_host, uint16_t rtty_port) {
  platform::name_this_thread("rtty");
  // The record's port is the real host's; a simulated host has its own.
  UniqueFd listener = open_listener(rtty_host, static_cast<uint16_t>(platform::host_port(rtty_port)));
  if (!listener) return;

  VmConfig vm;
  vm.id = vm_id;
  const std::string device = nmdm_console_path(vm, "B");
  auto busy = std::make_shared<std::atomic<bool>>(false);
  for (;;) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    UniqueFd client(::accept4(listener.get(), reinterpret_cast<sockaddr*>(&peer), &length,
                              SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!client) {
      int error = errno;
      spdlog::error("### RTTY: Accepting error: {}", error);
      ::sched_yield();
      if (resources_exhausted(error)) std::this_thread::sleep_for(kExhaustedPause);
      continue;
    }
    spdlog::info("RTTY: Incoming connection with {}", address_text(peer.sin_addr));
    serve(std::move(client), busy, device);
  }
}
