#include "model/vm_state.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/model/sandbox_root.h"

namespace {

class VmStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = root_.make_pool("z05");
    vm_dir_ = "/pools/z05/.vm_V4/000403404";
    std::filesystem::create_directories(root_.path(vm_dir_));
    root_.forget_sem(state_sem::vm_name("403404"));
  }
  // A state link the way another process writes it: to the real path.
  void link(const std::string& target) {
    ASSERT_EQ(::symlink(target.c_str(), root_.path(dir_ + "/403404.state").c_str()), 0);
  }
  void write(const std::string& real, const std::string& text) { root_.write(real, text); }
  bool has(const std::string& mark) { return std::filesystem::exists(root_.path(dir_ + "/" + mark)); }

  SandboxRoot root_;
  std::string dir_;
  std::string vm_dir_;
};

TEST_F(VmStateTest, ReadsThroughAnAbsoluteOrRelativeStateLink) {
  write(vm_dir_ + "/vm.json", R"({"id":"403404"})");
  // A relative link is taken from the state directory.
  for (const std::string& target : {vm_dir_ + "/vm.json", std::string("../.vm_V4/000403404/vm.json")}) {
    std::filesystem::remove(root_.path(dir_ + "/403404.state"));
    link(target);
    VmState st("z05", "403404");
    EXPECT_EQ(st.link_path(), dir_ + "/403404.state");
    EXPECT_TRUE(st.exists()) << target;
    EXPECT_TRUE(st.read().ok()) << target;
    EXPECT_EQ(st.read().text, R"({"id":"403404"})");
    EXPECT_EQ(st.read_result_text(), "");
    EXPECT_EQ(st.read_text(), R"({"id":"403404"})");
  }
}

TEST_F(VmStateTest, MissingDanglingAndUnusableRecords) {
  VmState st("z05", "403404");
  EXPECT_FALSE(st.exists());
  VmStateRead r = st.read();
  EXPECT_EQ(r.code, VmStateCode::no_link);
  EXPECT_NE(st.read_result_text(), "");
  EXPECT_EQ(st.read_text(), "");

  link(vm_dir_ + "/vm.json");  // nothing there yet
  EXPECT_FALSE(st.exists());
  r = st.read();
  EXPECT_EQ(r.code, VmStateCode::dangling);
  EXPECT_NE(r.text.find(vm_dir_ + "/vm.json"), std::string::npos) << r.text;
  EXPECT_EQ(st.read_result_text(), r.text);

  write(vm_dir_ + "/vm.json", " \n");
  EXPECT_EQ(st.read().code, VmStateCode::empty);

  // vm.json that cannot be read (a directory in its place).
  std::filesystem::remove(root_.path(vm_dir_ + "/vm.json"));
  std::filesystem::create_directory(root_.path(vm_dir_ + "/vm.json"));
  r = st.read();
  EXPECT_EQ(r.code, VmStateCode::unreadable);
  EXPECT_NE(st.read_result_text(), "");
}

TEST_F(VmStateTest, IdsThatLeaveTheStateDirectoryAreRefused) {
  write(dir_ + "/../secret.state", "secret");
  for (const char* id : {"../secret", "", "..", "a/b"}) {
    VmState st("z05", id);
    EXPECT_FALSE(st.exists()) << id;
    EXPECT_FALSE(st.read().ok()) << id;
    std::string error;
    EXPECT_EQ(st.suspend_mark(error), SuspendMark::error) << id;
    EXPECT_FALSE(st.set_suspend_mark(SuspendMark::own)) << id;
  }
}

TEST_F(VmStateTest, StoreWritesDocumentAndLink) {
  VmState st("z05", "403404");
  ASSERT_EQ(st.store(vm_dir_, R"({"id":"403404","v":1})"), "");
  EXPECT_TRUE(st.exists());
  EXPECT_EQ(st.read_text(), R"({"id":"403404","v":1})");
  // The link names the real path, so other roots' processes can map it.
  EXPECT_EQ(std::filesystem::read_symlink(root_.path(st.link_path())).string(),
            vm_dir_ + "/vm.json");
  ASSERT_EQ(st.store(vm_dir_, R"({"id":"403404","v":2})"), "");
  EXPECT_EQ(st.read_text(), R"({"id":"403404","v":2})");
  EXPECT_FALSE(std::filesystem::exists(root_.path(st.link_path() + ".tmp")));
  EXPECT_NE(st.store("relative/dir", "{}"), "");
  EXPECT_NE(VmState("z05", "1").store("/pools/none/x", "{}"), "");
}

TEST_F(VmStateTest, SuspendMarksSetReadAndCleared) {
  VmState st("z05", "403404");
  std::string error = "x";
  EXPECT_EQ(st.suspend_mark(error), SuspendMark::none);
  EXPECT_EQ(error, "");

  for (SuspendMark mark : {SuspendMark::own, SuspendMark::pool}) {
    ASSERT_TRUE(st.set_suspend_mark(mark));
    EXPECT_EQ(has("403404.suspended"), mark == SuspendMark::own);
    EXPECT_EQ(has("403404.pool_suspended"), mark == SuspendMark::pool);
    EXPECT_EQ(st.suspend_mark(error), mark);
  }

  // Both present (written by hand): the VM's own mark wins.
  write(dir_ + "/403404.suspended", "x");
  EXPECT_EQ(st.suspend_mark(error), SuspendMark::own);

  EXPECT_TRUE(st.clear_suspend_mark());
  EXPECT_EQ(st.suspend_mark(error), SuspendMark::none);
  EXPECT_TRUE(st.clear_suspend_mark());  // nothing to clear is fine
  EXPECT_FALSE(st.set_suspend_mark(SuspendMark::none));
}

TEST_F(VmStateTest, MarkErrorsAreReported) {
  VmState st("z05", "403404");
  // A mark that cannot be removed: a non-empty directory in its place.
  std::filesystem::create_directories(root_.path(dir_ + "/403404.suspended/x"));
  EXPECT_FALSE(st.clear_suspend_mark());

  // A pool whose state directory is a file: the marks cannot be told.
  write(pool_state_dir(Config::instance(), "z09"), "not a directory");
  std::string error;
  EXPECT_EQ(VmState("z09", "1").suspend_mark(error), SuspendMark::error);
  EXPECT_NE(error, "");
  root_.forget_sem(state_sem::vm_name("1"));
  EXPECT_FALSE(VmState("z09", "1").set_suspend_mark(SuspendMark::own));
}

}  // namespace
