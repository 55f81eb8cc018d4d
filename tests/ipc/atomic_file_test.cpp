#include "ipc/atomic_file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ipc_fixture.h"

namespace {

namespace fs = std::filesystem;

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(AtomicFile, WritesAndReplaces) {
  IpcSandbox sandbox;
  const std::string path = sandbox.dir() + "/vm.json";
  for (const char* text : {"first, longer text", "second", ""}) {
    ASSERT_EQ(write_file_atomic(path, text), "");
    EXPECT_EQ(slurp(path), text);
  }
  EXPECT_EQ(names_in(sandbox.dir()), (std::vector<std::string>{"var", "vm.json"}));
}

TEST(AtomicFile, TwoWritersOfOneFileEachLeaveAWholeResult) {
  IpcSandbox sandbox;
  const std::string path = sandbox.dir() + "/vm.json";
  const std::string texts[2] = {std::string(256 * 1024, 'a'), std::string(128 * 1024, 'b')};
  std::string errors[2];
  auto writer = [&](int which) {
    for (int i = 0; i < 40 && errors[which].empty(); ++i) {
      errors[which] = write_file_atomic(path, texts[which]);
      std::string now = slurp(path);
      if (now != texts[0] && now != texts[1]) errors[which] = "torn result";
    }
  };
  std::thread other(writer, 1);
  writer(0);
  other.join();
  EXPECT_EQ(errors[0], "");
  EXPECT_EQ(errors[1], "");
  EXPECT_EQ(names_in(sandbox.dir()), (std::vector<std::string>{"var", "vm.json"}));
}

TEST(AtomicFile, FailuresLeaveTheOldContentsAndNoTemporary) {
  IpcSandbox sandbox;
  const std::string path = sandbox.dir() + "/state";
  ASSERT_EQ(write_file_atomic(path, "kept"), "");

  // A directory in the way of the rename.
  const std::string busy = sandbox.dir() + "/busy";
  fs::create_directories(busy + "/inside");
  std::string error = write_file_atomic(busy, "x");
  EXPECT_NE(error.find(busy), std::string::npos) << error;
  EXPECT_EQ(names_in(sandbox.dir()), (std::vector<std::string>{"busy", "state", "var"}));
  EXPECT_TRUE(fs::is_directory(busy));
  EXPECT_EQ(slurp(path), "kept");

  EXPECT_FALSE(write_file_atomic(sandbox.dir() + "/no/dir/file", "x").empty());
  EXPECT_FALSE(fs::exists(sandbox.dir() + "/no"));
  EXPECT_FALSE(write_file_atomic("", "x").empty());
}

}  // namespace
