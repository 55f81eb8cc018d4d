// The pool lock file: one holder at a time across processes, the file
// removed only by the one that made it.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "pool/state/lock_file.h"
#include "tests/support/temp_root.h"

namespace {

namespace fs = std::filesystem;

// try_lock of a fresh LockFile in a child process.
int try_lock_elsewhere(const std::string& path) {
  pid_t pid = ::fork();
  if (pid == 0) {
    LockFile other(path);
    ::_exit(other.try_lock() + 10);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) - 10 : -100;
}

TEST(LockFile, OneHolderAcrossProcesses) {
  test_support::TempRoot root;
  fs::create_directories(root.path("/pools/p"));
  const std::string path = "/pools/p/.lock";
  {
    LockFile lock(path);
    EXPECT_EQ(lock.try_lock(), 0);
    EXPECT_TRUE(fs::exists(root.path(path)));
    EXPECT_EQ(lock.try_lock(), -1);  // held already
    EXPECT_EQ(try_lock_elsewhere(path), 1);

    LockFile moved(std::move(lock));
    EXPECT_TRUE(moved.locked());
    EXPECT_FALSE(lock.locked());
    EXPECT_EQ(try_lock_elsewhere(path), 1);
  }
  // Made by the holder: gone with it, and free again.
  EXPECT_FALSE(fs::exists(root.path(path)));
  EXPECT_EQ(try_lock_elsewhere(path), 0);

  // A file that was there before stays.
  std::ofstream(root.path(path)) << "";
  {
    LockFile lock(path);
    EXPECT_EQ(lock.try_lock(), 0);
  }
  EXPECT_TRUE(fs::exists(root.path(path)));

  LockFile nowhere("/pools/missing/.lock");
  EXPECT_EQ(nowhere.try_lock(), -1);
}

}  // namespace
