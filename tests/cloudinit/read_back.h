// Reading our documents back as a guest does: read_back.py (PyYAML, a YAML 1.1
// reader like the guest's cloud-init, and Python's json), run on files in a
// temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/run_program.h"

namespace cloudinit_test {

// What the reader made of each document ("yaml" or "json"), in order: texts,
// integers, booleans and nulls as themselves, any other type as
// {"!<type>": text}. An empty list (and a test failure) when it could not read
// them.
inline std::vector<nlohmann::json> read_back(const char* format,
                                             const std::vector<std::string>& documents) {
  namespace fs = std::filesystem;
  std::string dir = (fs::temp_directory_path() / "ombrix-read-back-XXXXXX").string();
  if (!::mkdtemp(dir.data())) {
    ADD_FAILURE() << "mkdtemp " << dir;
    return {};
  }
  std::vector<std::string> args{OMBRIX_SOURCE_DIR "/tests/cloudinit/read_back.py", format};
  for (size_t i = 0; i < documents.size(); ++i) {
    args.push_back(dir + "/" + std::to_string(i));
    std::ofstream(args.back(), std::ios::binary) << documents[i];
  }
  test_support::RunResult run = test_support::run_program("/usr/bin/python3", args);
  std::error_code ec;
  fs::remove_all(dir, ec);
  EXPECT_EQ(run.status, 0) << "the reader refused a document";
  nlohmann::json read = nlohmann::json::parse(run.output, nullptr, false);
  if (run.status != 0 || !read.is_array() || read.size() != documents.size()) {
    ADD_FAILURE() << "unexpected reader output: " << run.output.substr(0, 200);
    return {};
  }
  return read.get<std::vector<nlohmann::json>>();
}

inline nlohmann::json read_back(const char* format, const std::string& document) {
  std::vector<nlohmann::json> read = read_back(format, std::vector<std::string>{document});
  return read.empty() ? nlohmann::json() : read.front();
}

}  // namespace cloudinit_test
