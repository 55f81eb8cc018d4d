#include "ipc/atomic_file.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "ipc_fixture.h"

namespace {

namespace fs = std::filesystem;

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(AtomicFile, WritesAndReplaces) {
  IpcSandbox sandbox;
  const std::string path = sandbox.dir() + "/vm.json";
  for (const char* text : {"first, longer text", "second", ""}) {
    ASSERT_EQ(write_file_atomic(path, text), "");
    EXPECT_EQ(slurp(path), text);
  }
  EXPECT_FALSE(fs::exists(path + ".tmp"));
}

TEST(AtomicFile, FailuresLeaveTheOldContentsAndNoTemporary) {
  IpcSandbox sandbox;
  const std::string path = sandbox.dir() + "/state";
  ASSERT_EQ(write_file_atomic(path, "kept"), "");
  // The temporary file cannot be made.
  fs::create_directory(path + ".tmp");
  std::string error = write_file_atomic(path, "lost?");
  EXPECT_NE(error.find(path + ".tmp"), std::string::npos) << error;
  EXPECT_EQ(slurp(path), "kept");

  // A directory in the way of the rename.
  const std::string busy = sandbox.dir() + "/busy";
  fs::create_directories(busy + "/inside");
  EXPECT_FALSE(write_file_atomic(busy, "x").empty());
  EXPECT_FALSE(fs::exists(busy + ".tmp"));
  EXPECT_TRUE(fs::is_directory(busy));

  EXPECT_FALSE(write_file_atomic(sandbox.dir() + "/no/dir/file", "x").empty());
  EXPECT_FALSE(fs::exists(sandbox.dir() + "/no"));
  EXPECT_FALSE(write_file_atomic("", "x").empty());
}

}  // namespace
