#include "platform/null_modem.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host_root.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_root.h"

namespace {

namespace fs = std::filesystem;

constexpr int kGiveUpMs = 5000;  // only bounds a broken run; never a measure
const char* const kSideA = "/dev/nmdm403404A";
const char* const kSideB = "/dev/nmdm403404B";

struct Port {
  explicit Port(const char* real)
      : fd(::open(platform::host_path(real).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
  ~Port() {
    if (fd >= 0) ::close(fd);
  }
  Port(const Port&) = delete;
  int fd;
};

// One direction of traffic: `out` is written to `from` and read back from `to`.
struct Job {
  int from, to;
  std::string out;
  size_t sent = 0;
  std::string in;
};

// Runs all jobs at once until each has read as much as it wrote, or nothing
// moves for kGiveUpMs.
void pump(std::vector<Job>& jobs) {
  for (;;) {
    std::vector<pollfd> fds;
    for (const Job& j : jobs) {
      if (j.sent < j.out.size()) fds.push_back({j.from, POLLOUT, 0});
      if (j.in.size() < j.out.size()) fds.push_back({j.to, POLLIN, 0});
    }
    if (fds.empty() || ::poll(fds.data(), fds.size(), kGiveUpMs) <= 0) return;
    for (Job& j : jobs) {
      if (j.sent < j.out.size()) {
        ssize_t n = ::write(j.from, j.out.data() + j.sent, std::min<size_t>(4096, j.out.size() - j.sent));
        if (n > 0) j.sent += static_cast<size_t>(n);
      }
      char buf[4096];
      ssize_t n = ::read(j.to, buf, std::min(sizeof buf, j.out.size() - j.in.size()));
      if (n > 0) j.in.append(buf, static_cast<size_t>(n));
    }
  }
}

void exchange(int a, int b, const std::string& a_to_b, const std::string& b_to_a) {
  std::vector<Job> jobs{{a, b, a_to_b, 0, ""}, {b, a, b_to_a, 0, ""}};
  pump(jobs);
  EXPECT_TRUE(jobs[0].in == a_to_b) << "A to B: " << jobs[0].in.size() << " of " << a_to_b.size();
  EXPECT_TRUE(jobs[1].in == b_to_a) << "B to A: " << jobs[1].in.size() << " of " << b_to_a.size();
}

// Everything read from `fd` up to and including `marker` ("" on give-up).
std::string read_until(int fd, const std::string& marker) {
  std::string got;
  while (got.find(marker) == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, kGiveUpMs) <= 0) return "";
    char buf[4096];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<size_t>(n));
    else if (n == 0 || errno != EAGAIN) return "";
  }
  return got;
}

std::set<int> open_fds() {
  std::set<int> fds;
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) fds.insert(std::stoi(e.path().filename()));
  return fds;
}

// The relay threads of this process, by thread id.
std::set<std::string> relay_threads() {
  std::set<std::string> ids;
  for (const auto& e : fs::directory_iterator("/proc/self/task")) {
    std::string name;
    std::getline(std::ifstream(e.path() / "comm"), name);
    if (name == "nmdm-relay") ids.insert(e.path().filename());
  }
  return ids;
}

class NullModem : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(root_.path("/dev")); }
  std::optional<platform::NullModemPair> make() {
    std::string error;
    auto pair = platform::NullModemPair::create(kSideA, kSideB, &error);
    EXPECT_TRUE(pair) << error;
    return pair;
  }

  test_support::TempRoot root_;
};

TEST_F(NullModem, CarriesEveryByteValueAndBurstsBothWays) {
  auto made = make();
  ASSERT_TRUE(made);
  platform::NullModemPair pair = std::move(*made);  // the relay does not mind a move
  made.reset();
  EXPECT_TRUE(fs::is_symlink(root_.path("/dev/nmdm403404A")));
  EXPECT_TRUE(fs::is_symlink(root_.path("/dev/nmdm403404B")));

  Port a(kSideA), b(kSideB);
  ASSERT_GE(a.fd, 0);
  ASSERT_GE(b.fd, 0);
  EXPECT_TRUE(::isatty(a.fd));
  EXPECT_TRUE(::isatty(b.fd));

  // No side touches its settings: the pair must already be raw (no echo, no
  // CR/LF mapping, no control characters, no line buffering).
  std::string all;
  for (int round = 0; round < 4; ++round)
    for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  std::string reversed(all.rbegin(), all.rend());
  exchange(a.fd, b.fd, all, reversed);

  std::string burst_a(64 * 1024, '\0'), burst_b(64 * 1024, '\0');
  for (size_t i = 0; i < burst_a.size(); ++i) {
    burst_a[i] = static_cast<char>(i * 7 % 251);
    burst_b[i] = static_cast<char>(i * 13 % 256);
  }
  exchange(a.fd, b.fd, burst_a, burst_b);
}

TEST_F(NullModem, SideBClosedAndReopenedKeepsWorking) {
  auto pair = make();
  ASSERT_TRUE(pair);
  Port a(kSideA);
  std::optional<Port> b(kSideB);
  exchange(a.fd, b->fd, "first", "reply");
  b.reset();

  // Side A does not hang up, and a side without a user does not hold up the
  // writer: far more than any queue holds goes through.
  pollfd p{a.fd, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 0), 0) << "revents " << p.revents;
  const std::string unread(1 << 20, 'x');
  for (size_t sent = 0; sent < unread.size();) {
    pollfd w{a.fd, POLLOUT, 0};
    ASSERT_EQ(::poll(&w, 1, kGiveUpMs), 1) << "writer held up after " << sent;
    ssize_t n = ::write(a.fd, unread.data() + sent, unread.size() - sent);
    if (n > 0) sent += static_cast<size_t>(n);
  }

  // The way the VM wrapper opens its side.
  b.emplace(kSideB);
  ASSERT_GE(b->fd, 0);
  termios tio{};
  ASSERT_EQ(::tcgetattr(b->fd, &tio), 0);
  ::cfmakeraw(&tio);
  ::cfsetspeed(&tio, B115200);
  ASSERT_EQ(::tcsetattr(b->fd, TCSAFLUSH, &tio), 0);

  ASSERT_GT(::write(a.fd, "again\n", 6), 0);
  std::string got = read_until(b->fd, "again\n");
  ASSERT_FALSE(got.empty());
  EXPECT_LT(got.size(), unread.size());  // what came while B was closed is gone
  exchange(a.fd, b->fd, "ping\r\n", std::string("pong\0\xff", 6));
}

TEST_F(NullModem, SurvivesAForkOfItsOwner) {
  std::set<int> before = open_fds();
  auto pair = make();
  ASSERT_TRUE(pair);
  for (int fd : open_fds()) {
    if (before.count(fd)) continue;
    int flags = ::fcntl(fd, F_GETFD);  // -1: the listing's own descriptor, closed by now
    if (flags >= 0) {
      EXPECT_TRUE(flags & FD_CLOEXEC) << "fd " << fd << " would reach bhyve";
    }
  }

  test_support::ChildProcess child([&] {
    pair.reset();  // the child's copy goes; the owner's pair must not notice
    return 0;
  });
  ASSERT_GE(child.pid(), 0);
  std::optional<int> status = child.wait_status();
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status;

  EXPECT_TRUE(fs::is_symlink(root_.path("/dev/nmdm403404A")));
  EXPECT_TRUE(fs::is_symlink(root_.path("/dev/nmdm403404B")));
  Port a(kSideA), b(kSideB);
  exchange(a.fd, b.fd, "after fork", "still here");
}

TEST_F(NullModem, DestructionRemovesLinksAndStopsTheRelay) {
  std::set<int> fds_before = open_fds();
  std::set<std::string> relays = relay_threads();
  auto pair = make();
  ASSERT_TRUE(pair);
  std::vector<std::string> relay;
  std::ranges::set_difference(relay_threads(), relays, std::back_inserter(relay));
  ASSERT_EQ(relay.size(), 1u);
  std::optional<Port> b(kSideB);
  ASSERT_GE(b->fd, 0);

  pair.reset();
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_.path("/dev/nmdm403404A"))));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_.path("/dev/nmdm403404B"))));
  pollfd p{b->fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, kGiveUpMs), 1);
  EXPECT_TRUE(p.revents & POLLHUP) << "a user still on the side sees the hang-up";
  b.reset();
  EXPECT_EQ(open_fds(), fds_before);
  // A joined thread may linger in the task list for a moment.
  const fs::path task = fs::path("/proc/self/task") / relay[0];
  for (int i = 0; i < kGiveUpMs && fs::exists(task); ++i) ::usleep(1000);
  EXPECT_FALSE(fs::exists(task));
}

TEST_F(NullModem, TakesOverStaleLinksOnlyAndRefusesOtherFiles) {
  std::string error;
  EXPECT_FALSE(platform::NullModemPair::create("/nodir/nmdm1A", "/nodir/nmdm1B", &error));
  EXPECT_NE(error.find("/nodir/nmdm1A"), std::string::npos) << error;
  EXPECT_FALSE(platform::NullModemPair::create(kSideA, kSideA));

  auto first = make();
  auto second = make();  // as after the first owner died: its links are stale
  ASSERT_TRUE(first && second);
  first.reset();  // must leave the links that name the second pair now
  {
    Port a(kSideA), b(kSideB);
    exchange(a.fd, b.fd, "to the", "second");
  }
  second.reset();

  // A file that is not a link stays, and the side made before it is undone.
  { std::ofstream(root_.path("/dev/nmdm403404B")) << "keep"; }
  EXPECT_FALSE(platform::NullModemPair::create(kSideA, kSideB));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(root_.path("/dev/nmdm403404B"))));
  EXPECT_EQ(std::distance(fs::directory_iterator(root_.path("/dev")), fs::directory_iterator()), 1);
}

}  // namespace
