#include "platform/process_table.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"

namespace {

using test_support::ChildProcess;
using test_support::eventually;

std::string title_of(pid_t pid) { return platform::process_info(pid).title; }

TEST(ProcessTable, ListsThisProcessWithItsCommandLine) {
  auto table = platform::list_processes();
  auto self = std::find_if(table.begin(), table.end(),
                           [](const platform::ProcessInfo& p) { return p.pid == ::getpid(); });
  ASSERT_NE(self, table.end());
  EXPECT_EQ(self->ppid, ::getppid());
  ASSERT_FALSE(self->args.empty());
  EXPECT_NE(self->args[0].find("platform_tests"), std::string::npos);
  EXPECT_TRUE(std::is_sorted(table.begin(), table.end(),
                             [](const auto& a, const auto& b) { return a.pid < b.pid; }));
  // Kernel threads have no command line and are left out.
  EXPECT_TRUE(std::none_of(table.begin(), table.end(), [](const auto& p) { return p.title.empty(); }));
}

TEST(ProcessTable, ArgumentsAreJoinedAndKeptApart) {
  ChildProcess child(TITLE_HELPER, {"helper", "one two", "", "three"});
  ASSERT_TRUE(eventually([&] { return title_of(child.pid()) == "helper one two  three"; }));
  auto info = platform::process_info(child.pid());
  EXPECT_EQ(info.args, (std::vector<std::string>{"helper", "one two", "", "three"}));
  EXPECT_EQ(info.ppid, ::getpid());
}

TEST(ProcessTable, ZombiesAndMissingProcessesAreNotAlive) {
  EXPECT_TRUE(platform::process_alive(::getpid()));
  EXPECT_FALSE(platform::process_alive(0));
  EXPECT_FALSE(platform::process_alive(-1));

  ChildProcess child([] { return 0; });
  pid_t pid = child.pid();
  ASSERT_TRUE(eventually([&] { return !platform::process_alive(pid); }));  // a zombie now
  EXPECT_EQ(::kill(pid, 0), 0) << "the zombie should still be in the table";
  EXPECT_EQ(platform::process_info(pid).pid, 0);
  child.wait();
  EXPECT_FALSE(platform::process_alive(pid));
  EXPECT_EQ(platform::process_info(pid).pid, 0);
}

TEST(ProcessTable, WorkingDirectory) {
  EXPECT_EQ(platform::process_cwd(::getpid()), std::filesystem::current_path().string());
  ChildProcess child(TITLE_HELPER, {"helper"}, "/");
  ASSERT_TRUE(eventually([&] { return platform::process_cwd(child.pid()) == "/"; }));
}

TEST(ProcessTitle, ReplacesTheWholeCommandLine) {
  // Longer and shorter than the original first argument (the helper's path).
  for (std::string title : {"Ombrix QTR (AMQP-daemon) with a title longer than the path", "x"}) {
    ChildProcess child(TITLE_HELPER, {TITLE_HELPER, "--title", title});
    ASSERT_TRUE(eventually([&] { return title_of(child.pid()) == title; })) << title_of(child.pid());
    EXPECT_EQ(platform::process_info(child.pid()).args, std::vector<std::string>{title});
  }
}

}  // namespace
