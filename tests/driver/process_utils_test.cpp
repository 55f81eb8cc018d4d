#include "driver/process_utils.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/host_root.h"
#include "platform/process_table.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_root.h"

namespace {

using test_support::ChildProcess;
using test_support::eventually;
using test_support::TempRoot;

// A stand-in process with the given arguments (args[0] included).
std::unique_ptr<ChildProcess> run(const std::vector<std::string>& args, const std::string& cwd) {
  return std::make_unique<ChildProcess>(TITLE_HELPER, args, cwd);
}
std::unique_ptr<ChildProcess> titled(const std::string& title, const std::string& cwd) {
  return run({"helper", "--title", title}, cwd);
}

TEST(ProcessUtils, WrapperAndBhyveOfAVm) {
  TempRoot root;
  std::string vm_dir = root.path("/pools/z05/403404");
  std::filesystem::create_directories(vm_dir);
  auto wrapper = titled("qtr-bhyve: 403404", root.dir());
  auto bhyve = run({"/usr/sbin/bhyve", "-c", "2", "-m", "1G", "403404"}, vm_dir);
  auto mapped = run({platform::host_path("/usr/sbin/bhyve"), "-A", "403405"}, root.dir());
  auto own_title = titled("bhyve: 403406", root.dir());
  auto remote = titled("qtr-bhyve: 403407-r", root.dir());
  auto not_bhyve = run({"/usr/sbin/bhyve", "-c", "1", "-H"}, root.dir());  // ends in an option

  ASSERT_TRUE(eventually([&] { return find_bhyve_processes().size() == 3; }));
  auto bhyves = find_bhyve_processes();
  EXPECT_EQ(bhyves, (std::map<std::string, int32_t>{
                        {"403404", bhyve->pid()}, {"403405", mapped->pid()}, {"403406", own_title->pid()}}));

  ASSERT_TRUE(eventually([&] { return find_wrapper_processes("403407").wrapper != 0; }));
  auto pair = find_wrapper_processes("403404");
  EXPECT_EQ(pair.wrapper, wrapper->pid());
  EXPECT_EQ(pair.bhyve, bhyve->pid());
  EXPECT_EQ(find_wrapper_processes("403407").wrapper, remote->pid());
  EXPECT_EQ(find_wrapper_processes("403407").bhyve, 0);
  auto none = find_wrapper_processes("4034");  // a prefix of an id is another VM
  EXPECT_EQ(none.wrapper, 0);
  EXPECT_EQ(none.bhyve, 0);
  EXPECT_EQ(find_wrapper_processes("").wrapper, 0);
}

TEST(ProcessUtils, OnlyProcessesOfThisHostRootCount) {
  TempRoot root;
  auto inside = titled(daemon_title, root.dir());
  auto outside = titled(daemon_title, "/");
  auto other_bhyve = run({"/usr/sbin/bhyve", "403404"}, "/");
  auto almost = titled(std::string(daemon_title) + " ", root.dir());  // titles match as a whole

  for (const auto* p : {inside.get(), outside.get()})
    ASSERT_TRUE(eventually([&] { return platform::process_info(p->pid()).title == daemon_title; }));
  ASSERT_TRUE(eventually(
      [&] { return platform::process_info(almost->pid()).title == std::string(daemon_title) + " "; }));
  EXPECT_EQ(find_titled_processes(daemon_title), std::vector<int32_t>{inside->pid()});
  EXPECT_TRUE(process_belongs_to_host(inside->pid()));
  EXPECT_FALSE(process_belongs_to_host(outside->pid()));
  EXPECT_TRUE(find_bhyve_processes().empty());
}

}  // namespace
