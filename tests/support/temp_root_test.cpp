#include "tests/support/temp_root.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host_root.h"
#include "tests/support/require.h"

namespace {

using test_support::RootEntry;
using test_support::TestRun;

// A pid that no process has any longer: a child that ended and was reaped.
pid_t ended_pid() {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  test_support::require(pid > 0, "fork");
  ::waitpid(pid, nullptr, 0);
  return pid;
}

// A child whose working directory is `dir` (as a simulated host's service
// would be), there by the time this returns.
pid_t child_in(const std::string& dir) {
  int ready[2];
  test_support::require(::pipe(ready) == 0, "pipe");
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ready[0]);
    if (::chdir(dir.c_str()) != 0) ::_exit(1);
    [[maybe_unused]] ssize_t n = ::write(ready[1], "x", 1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char c = 0;
  bool up = pid > 0 && ::read(ready[0], &c, 1) == 1;
  ::close(ready[0]);
  test_support::require(up, "child in " + dir);
  return pid;
}

// Whether the child `pid` had been killed (SIGKILL): it is ended with SIGTERM
// here and reaped; a SIGKILL sent before decides its status.
bool was_killed(pid_t pid) {
  ::kill(pid, SIGTERM);
  int status = 0;
  return ::waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

// Two test runs side by side: a sweep of run A's removes the roots run A left
// whose creator ended (their directory, entry, IPC objects and the processes
// working in them), and nothing of a live creator's, another run's, another
// build's or another user's.
TEST(TempRootSweep, TakesOnlyWhatItsOwnRunLeft) {
  const TestRun run_a{"run-a", "/work/checkout-1/build"};
  struct Case {
    const char* name;
    TestRun run;
    bool creator_alive;
    bool other_user;
    bool swept;
  };
  const std::vector<Case> cases = {
      {"same run, creator ended", run_a, false, false, true},
      {"same run, creator alive", run_a, true, false, false},
      {"other run, creator ended", {"run-b", run_a.build}, false, false, false},
      {"other build, creator ended", {run_a.id, "/work/checkout-2/build"}, false, false, false},
      {"other test program, creator ended", {"parent-1-2", "/work/checkout-1/build-sanitize"}, false, false,
       false},
      {"other user, creator ended", run_a, false, true, false},
  };
  test_support::TempRoot scratch(false);
  const std::string registry = scratch.path("/registry");
  std::filesystem::create_directories(registry);

  struct Root {
    std::string dir, tag, entry, shm;
    pid_t worker;
  };
  std::vector<Root> roots;
  for (const Case& c : cases) {
    if (c.other_user && ::geteuid() != 0) continue;  // only root can write another user's entry
    std::string pattern = "/tmp/ombrix-sweep-XXXXXX";
    test_support::require(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    Root r{pattern, platform::ipc_tag(pattern), "", "", 0};
    r.entry = registry + "/" + r.tag;
    r.shm = "/ombrix-sweep-test" + r.tag;
    int shm = ::shm_open(r.shm.c_str(), O_CREAT | O_RDWR, 0600);
    test_support::require(shm >= 0, "shm_open " + r.shm);
    ::close(shm);
    r.worker = child_in(r.dir);
    test_support::write_root_entry(r.entry, RootEntry{c.creator_alive ? ::getpid() : ended_pid(), r.dir, c.run});
    if (c.other_user) test_support::require(::chown(r.entry.c_str(), 65534, 65534) == 0, "chown");
    roots.push_back(r);
  }

  test_support::sweep_abandoned_roots(registry, run_a);

  size_t i = 0;
  for (const Case& c : cases) {
    if (c.other_user && ::geteuid() != 0) continue;
    const Root& r = roots[i++];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(std::filesystem::exists(r.dir), !c.swept);
    EXPECT_EQ(std::filesystem::exists(r.entry), !c.swept);
    EXPECT_EQ(std::filesystem::exists("/dev/shm" + r.shm), !c.swept);
    EXPECT_EQ(was_killed(r.worker), c.swept);
    ::shm_unlink(r.shm.c_str());
    std::error_code ec;
    std::filesystem::remove_all(r.dir, ec);
  }
}

// The registry's entries read back as they were written, also with spaces in
// the paths; an entry of the older one-line form belongs to no run.
TEST(TempRootSweep, EntriesReadBack) {
  test_support::TempRoot scratch(false);
  const std::string entry = scratch.path("/entry");
  const RootEntry written{4242, "/tmp/ombrix-x y", {"run 7", "/home/a b/build"}};
  test_support::write_root_entry(entry, written);
  RootEntry read = test_support::read_root_entry(entry);
  EXPECT_EQ(read.pid, written.pid);
  EXPECT_EQ(read.dir, written.dir);
  EXPECT_EQ(read.run.id, written.run.id);
  EXPECT_EQ(read.run.build, written.run.build);

  scratch.write("/old", "4242 /tmp/ombrix-old\n");
  read = test_support::read_root_entry(scratch.path("/old"));
  EXPECT_EQ(read.run.id, "");
  EXPECT_EQ(read.run.build, "");
}

// A test program's run is the one the test command names, and its build
// directory the one this program was built in.
TEST(TempRootSweep, ThisRunIsNamedAndBuilt) {
  const TestRun& run = test_support::this_test_run();
  EXPECT_FALSE(run.id.empty());
  EXPECT_EQ(run.id, ::getenv("OMBRIX_TEST_RUN"));
  EXPECT_TRUE(std::filesystem::equivalent(run.build, OMBRIX_BUILD_DIR)) << run.build;
}

}  // namespace
