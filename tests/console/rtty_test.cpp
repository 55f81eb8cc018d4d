#include "bhwrap/console/rtty.h"

#include "bhwrap/wrapper/bhwrap_guest_channels.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include "ipc/unique_fd.h"
#include "platform/host_root.h"
#include "platform/null_modem.h"
#include "tests/support/child_process.h"
#include "tests/support/eventually.h"
#include "tests/support/temp_root.h"

namespace {

using ::testing::Contains;
using ::testing::Eq;
using ::testing::HasSubstr;
using ::testing::Not;
using test_support::ChildProcess;
using test_support::eventually;
using test_support::TempRoot;

constexpr int kGiveUpMs = 10000;  // only bounds a broken run; never a measure
constexpr const char* kVmId = "5150";
constexpr const char* kSideA = "/dev/nmdm5150A";
constexpr const char* kSideB = "/dev/nmdm5150B";

sockaddr_in loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A listening socket on a loopback port the system chose.
UniqueFd listening_socket() {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = loopback(0);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd.get(), 1) != 0)
    return UniqueFd();
  return fd;
}

uint16_t port_of(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

// A loopback port that was free a moment ago.
uint16_t free_port() { return port_of(listening_socket().get()); }

// The port the console of a record with `port` listens on: the host root's own.
uint16_t mapped(uint16_t port) { return static_cast<uint16_t>(platform::host_port(port)); }

// A listening socket on loopback `port`; invalid when it is taken.
UniqueFd listening_socket_on(uint16_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = loopback(port);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd.get(), 1) != 0)
    return UniqueFd();
  return fd;
}

// A record's console port whose port under the host root was free a moment ago.
uint16_t free_record_port() {
  for (uint16_t port = free_port();; ++port)
    if (listening_socket_on(mapped(port))) return port;
}

UniqueFd connect_to(uint16_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = loopback(port);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return UniqueFd();
  return fd;
}

bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, kGiveUpMs) == 1;
}

// Writes all of `data` to a socket or terminal (never raising SIGPIPE).
bool put(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, kGiveUpMs) != 1) return false;
    ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == ENOTSOCK) n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno != EAGAIN) return false;
    if (n > 0) done += n;
  }
  return true;
}

// Reads until `size` bytes came, end of file, or nothing comes any more.
std::string take(int fd, size_t size) {
  std::string got;
  char buffer[512];
  while (got.size() < size && readable(fd)) {
    ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, size - got.size()));
    if (n == 0 || (n < 0 && errno != EAGAIN)) break;
    if (n > 0) got.append(buffer, n);
  }
  return got;
}

// True when the peer closes the connection (rather than sending something).
bool closed_by_peer(int fd) {
  char byte;
  return readable(fd) && ::recv(fd, &byte, 1, 0) <= 0;
}

// True when `client` is joined to the console: a probe it sends arrives at
// side A. False when the listener closes it instead.
bool bridged(int client, int side_a) {
  if (!put(client, "?")) return false;
  pollfd fds[2] = {{client, POLLIN, 0}, {side_a, POLLIN, 0}};
  if (::poll(fds, 2, kGiveUpMs) < 1) return false;
  if (fds[1].revents & POLLIN) return take(side_a, 1) == "?";
  return false;
}

std::string all_byte_values() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  return bytes;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

size_t open_descriptors(pid_t pid) {
  std::error_code ec;
  auto entries = std::filesystem::directory_iterator(fmt::format("/proc/{}/fd", pid), ec);
  return std::distance(begin(entries), end(entries));
}

// The controlling terminal of `pid` (0: none), from /proc/<pid>/stat.
long controlling_terminal(pid_t pid) {
  std::string stat = read_text(fmt::format("/proc/{}/stat", pid));
  std::istringstream fields(stat.substr(stat.rfind(')') + 1));
  std::string state;
  long ppid = 0, pgrp = 0, session = 0, tty = -1;
  fields >> state >> ppid >> pgrp >> session >> tty;
  return tty;
}

bool ignores_sigpipe(pid_t pid) {
  std::istringstream status(read_text(fmt::format("/proc/{}/status", pid)));
  for (std::string line; std::getline(status, line);)
    if (line.rfind("SigIgn:", 0) == 0)
      return (std::stoull(line.substr(7), nullptr, 16) >> (SIGPIPE - 1)) & 1;
  return false;
}

// The console of VM kVmId under a fresh host root. The listening thread runs
// in a child process that, like the VM wrapper, leads a session of its own
// without a terminal and ignores SIGPIPE; it logs to a file of its own.
class RttyTest : public ::testing::Test {
 protected:
  RttyTest() { std::filesystem::create_directories(root_.path("/dev")); }

  // `wrapper`: started as the VM wrapper starts it, in a thread beside the
  // process's own; otherwise run in the child's only thread.
  void start_listener(const std::string& host, uint16_t port, bool wrapper = false) {
    listener_.reset();
    log_path_ = root_.path(fmt::format("/rtty-{}.log", ++starts_));
    std::string log_path = log_path_;
    listener_.emplace([log_path, host, port, wrapper] {
      ::setsid();
      ::signal(SIGPIPE, SIG_IGN);
      auto logger = spdlog::basic_logger_mt("rtty-test", log_path);
      logger->set_pattern("%v");
      logger->set_level(spdlog::level::trace);
      logger->flush_on(spdlog::level::trace);
      spdlog::set_default_logger(logger);
      if (!wrapper) {
        rtty_thread(kVmId, host, port);
        return 0;
      }
      start_console_bridge(kVmId, host, port);
      for (;;) ::pause();
    });
  }

  // A listener for a record port whose mapped port is free, once it listens;
  // the port it listens on.
  uint16_t listen() {
    uint16_t port = record_port_ = free_record_port();
    start_listener("127.0.0.1", port);
    EXPECT_TRUE(logged(fmt::format("RTTY: Listen socket at 127.0.0.1:{}", mapped(port))));
    return mapped(port);
  }

  // The console pair, made after the listener so that the listener's process
  // holds none of its descriptors; the test uses side A as bhyve would.
  void make_pair() {
    std::string error;
    pair_ = platform::NullModemPair::create(kSideA, kSideB, &error);
    ASSERT_TRUE(pair_) << error;
    side_a_ = UniqueFd(::open(platform::host_path(kSideA).c_str(),
                              O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(side_a_);
  }

  void remove_pair() {
    side_a_.reset();
    pair_.reset();
  }

  // A client that the listener bridges, once the console is free again.
  UniqueFd bridged_client(uint16_t port) {
    UniqueFd client;
    EXPECT_TRUE(eventually([&] {
      client = connect_to(port);
      return client && bridged(client.get(), side_a_.get());
    }));
    return client;
  }

  std::string log() const { return read_text(log_path_); }
  bool logged(const std::string& text) const {
    return eventually([&] { return log().find(text) != std::string::npos; });
  }

  TempRoot root_;
  uint16_t record_port_ = 0;  // of the last listen()
  int starts_ = 0;
  std::string log_path_;
  std::optional<platform::NullModemPair> pair_;
  UniqueFd side_a_;
  std::optional<ChildProcess> listener_;
};

TEST_F(RttyTest, BridgesOneClientAtATimeByteForByte) {
  uint16_t port = listen();
  make_pair();
  UniqueFd first = connect_to(port);
  ASSERT_TRUE(first);
  ASSERT_TRUE(bridged(first.get(), side_a_.get()));
  EXPECT_TRUE(logged("RTTY: Incoming connection with 127.0.0.1"));
  EXPECT_TRUE(logged("RTTY: NMDM is set to raw mode at 115200 baud"));
  EXPECT_EQ(read_text(fmt::format("/proc/{}/comm", listener_->pid())), "rtty\n");
  EXPECT_EQ(controlling_terminal(listener_->pid()), 0);

  const std::string bytes = all_byte_values();
  ASSERT_TRUE(put(first.get(), bytes));
  EXPECT_EQ(take(side_a_.get(), bytes.size()), bytes);
  ASSERT_TRUE(put(side_a_.get(), bytes));
  EXPECT_EQ(take(first.get(), bytes.size()), bytes);

  // A second client is closed at once; the first keeps its console.
  size_t descriptors = open_descriptors(listener_->pid());
  for (int i = 0; i < 3; ++i) {
    UniqueFd second = connect_to(port);
    ASSERT_TRUE(second);
    EXPECT_TRUE(closed_by_peer(second.get()));
  }
  EXPECT_TRUE(logged("RTTY: Connection already established. Only one connection allowed"));
  EXPECT_EQ(open_descriptors(listener_->pid()), descriptors);
  ASSERT_TRUE(put(side_a_.get(), "login: "));
  EXPECT_EQ(take(first.get(), 7), "login: ");
  ASSERT_TRUE(put(first.get(), "root\r"));
  EXPECT_EQ(take(side_a_.get(), 5), "root\r");
}

TEST_F(RttyTest, TheWrapperServesTheConsoleFromAThreadNamedRtty) {
  uint16_t port = free_record_port();
  start_listener("127.0.0.1", port, true);
  ASSERT_TRUE(logged(fmt::format("RTTY: Listen socket at 127.0.0.1:{}", mapped(port))));
  make_pair();
  UniqueFd client = bridged_client(mapped(port));
  ASSERT_TRUE(put(side_a_.get(), "console"));
  EXPECT_EQ(take(client.get(), 7), "console");

  std::vector<std::string> names;
  for (const auto& task :
       std::filesystem::directory_iterator(fmt::format("/proc/{}/task", listener_->pid())))
    names.push_back(read_text(task.path() / "comm"));
  EXPECT_THAT(names, Contains("rtty\n"));
  EXPECT_THAT(read_text(fmt::format("/proc/{}/comm", listener_->pid())), Not(Eq("rtty\n")));
}

TEST_F(RttyTest, AClientThatGoesAwayFreesTheConsole) {
  struct Case {
    const char* name;
    void (*leave)(UniqueFd& client);
  };
  const Case cases[] = {
      {"close", [](UniqueFd& c) { c.reset(); }},
      {"half-close", [](UniqueFd& c) { ::shutdown(c.get(), SHUT_WR); }},
      {"reset",
       [](UniqueFd& c) {
         linger hard{1, 0};
         ::setsockopt(c.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
         c.reset();
       }},
  };
  uint16_t port = listen();
  make_pair();
  ASSERT_TRUE(ignores_sigpipe(listener_->pid()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UniqueFd client = bridged_client(port);
    c.leave(client);
    if (client) {
      // Half-closed: the bridge closes the client once it has wound down,
      // leaving SIGPIPE as the process had it.
      EXPECT_TRUE(closed_by_peer(client.get()));
      EXPECT_TRUE(ignores_sigpipe(listener_->pid()));
    }
    UniqueFd next = bridged_client(port);
    ASSERT_TRUE(next);
    ASSERT_TRUE(put(side_a_.get(), "ok"));
    EXPECT_EQ(take(next.get(), 2), "ok");
  }
  EXPECT_TRUE(logged("RTTY: connection is broken (READ)"));
}

TEST_F(RttyTest, AConsoleThatCannotBeOpenedClosesTheClientAndListensOn) {
  uint16_t port = listen();
  size_t descriptors = open_descriptors(listener_->pid());

  UniqueFd client = connect_to(port);
  EXPECT_TRUE(closed_by_peer(client.get()));
  EXPECT_TRUE(logged(
      fmt::format("### RTTY: Can't open device with bhyve: {}. Connection closed", kSideB)));

  std::string plain = root_.write(kSideB, "not a terminal\n");
  client = connect_to(port);
  EXPECT_TRUE(closed_by_peer(client.get()));
  EXPECT_TRUE(logged(fmt::format("### RTTY: NMDM device {} is not a TTY", kSideB)));
  EXPECT_EQ(open_descriptors(listener_->pid()), descriptors);

  std::filesystem::remove(plain);
  make_pair();
  client = connect_to(port);
  EXPECT_TRUE(bridged(client.get(), side_a_.get()));
}

TEST_F(RttyTest, TheConsoleGoingAwayEndsTheBridge) {
  uint16_t port = listen();
  make_pair();
  UniqueFd client = bridged_client(port);
  remove_pair();
  EXPECT_TRUE(closed_by_peer(client.get()));
  EXPECT_TRUE(logged("RTTY: connection is broken (READ)"));

  make_pair();
  client = bridged_client(port);
  ASSERT_TRUE(put(side_a_.get(), "back"));
  EXPECT_EQ(take(client.get(), 4), "back");
}

TEST_F(RttyTest, ARestartedListenerTakesItsPortBack) {
  uint16_t port = listen();
  make_pair();
  UniqueFd client = bridged_client(port);
  // The wrapper ends with a client connected: the connection lingers on
  // the port after both sides closed it.
  listener_.reset();
  ASSERT_TRUE(closed_by_peer(client.get()));
  client.reset();

  start_listener("127.0.0.1", record_port_);
  ASSERT_TRUE(eventually([&] { return !log().empty(); }));
  EXPECT_THAT(log(), HasSubstr(fmt::format("RTTY: Listen socket at 127.0.0.1:{}", port)));
  client = bridged_client(port);
}

TEST_F(RttyTest, AListeningSocketThatCannotBeSetUpEndsTheThread) {
  // Another process listens on the port of record port `busy` under this root.
  const uint16_t busy = free_record_port();
  UniqueFd taken = listening_socket_on(mapped(busy));
  ASSERT_TRUE(taken);
  struct Case {
    std::string host;
    uint16_t port;
    std::string line;
  };
  const Case cases[] = {
      {"localhost", free_port(), "### RTTY: Invalid host address: 'localhost'"},
      {"10.0.0.256", free_port(), "### RTTY: Invalid host address: '10.0.0.256'"},
      {"::1", free_port(), "### RTTY: Invalid host address: '::1'"},
      {"127.0.0.1", busy,
       fmt::format("### RTTY: Can't binding socket\n### RTTY: port {} of 127.0.0.1: Address already in use; "
                   "the VM runs without its console", mapped(busy))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    start_listener(c.host, c.port);
    EXPECT_EQ(listener_->wait(), 0);
    EXPECT_THAT(log(), HasSubstr(c.line));
    EXPECT_THAT(log(), Not(HasSubstr("RTTY: Listen socket")));
  }
}

}  // namespace
