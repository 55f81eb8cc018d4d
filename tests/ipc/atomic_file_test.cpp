#include "ipc/atomic_file.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "ipc_fixture.h"

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(AtomicFile, WritesAndReplaces) {
  IpcSandbox sandbox;
  const std::string path = sandbox.dir() + "/vm.json";
  ASSERT_EQ(write_file_atomic(path, "first, longer text"), "");
  EXPECT_EQ(slurp(path), "first, longer text");
  ASSERT_EQ(write_file_atomic(path, "second"), "");
  EXPECT_EQ(slurp(path), "second");
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  ASSERT_EQ(write_file_atomic(path, ""), "");
  EXPECT_EQ(slurp(path), "");
}

TEST(AtomicFile, FailureLeavesTheOldContents) {
  IpcSandbox sandbox;
  const std::string path = sandbox.dir() + "/state";
  ASSERT_EQ(write_file_atomic(path, "kept"), "");
  // The temporary file cannot be made.
  std::filesystem::create_directory(path + ".tmp");
  std::string error = write_file_atomic(path, "lost?");
  EXPECT_NE(error.find(path + ".tmp"), std::string::npos) << error;
  EXPECT_EQ(slurp(path), "kept");

  error = write_file_atomic(sandbox.dir() + "/no/dir/file", "x");
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(std::filesystem::exists(sandbox.dir() + "/no"));
  EXPECT_FALSE(write_file_atomic("", "x").empty());
}

TEST(AtomicFile, RenameFailureRemovesTheTemporary) {
  IpcSandbox sandbox;
  // A directory in the way of the rename.
  const std::string path = sandbox.dir() + "/busy";
  std::filesystem::create_directories(path + "/inside");
  EXPECT_FALSE(write_file_atomic(path, "x").empty());
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  EXPECT_TRUE(std::filesystem::is_directory(path));
}

}  // namespace
