#include "platform/self.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"

namespace {

TEST(Self, ExecutablePath) {
  EXPECT_EQ(std::filesystem::path(platform::executable_path()).filename(), "platform_tests");
}

TEST(Self, ClosesDescriptorsFromTheFirstGiven) {
  test_support::ChildProcess child([] {
    int low = ::open("/dev/null", O_RDONLY);
    int high = ::dup2(low, 200);
    int keep = ::dup(low);
    if (low < 0 || high != 200 || keep < 0 || keep > 100) return 2;
    platform::close_descriptors_from(keep + 1);
    bool ok = ::fcntl(0, F_GETFD) >= 0 && ::fcntl(keep, F_GETFD) >= 0 && ::fcntl(low, F_GETFD) >= 0 &&
              ::fcntl(high, F_GETFD) < 0;
    return ok ? 0 : 1;
  });
  std::optional<int> status = child.wait_status();
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
}

}  // namespace
