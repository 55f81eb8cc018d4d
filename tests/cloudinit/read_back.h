// Reading documents back as a guest does, with read_back.py (PyYAML, a YAML
// 1.1 reader like the guest's cloud-init, and Python's json).
#pragma once

#include <stdlib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/run_program.h"

namespace cloudinit_test {

// What the reader made of each document ("yaml" or "json"), in order (see
// read_back.py); empty, with a test failure, when it could not read them.
inline std::vector<nlohmann::json> read_back(const char* format,
                                             const std::vector<std::string>& documents) {
  std::string dir = (std::filesystem::temp_directory_path() / "ombrix-read-back-XXXXXX").string();
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
  std::filesystem::remove_all(dir, ec);
  nlohmann::json read = nlohmann::json::parse(run.output, nullptr, false);
  if (run.status == 0 && read.is_array() && read.size() == documents.size())
    return read.get<std::vector<nlohmann::json>>();
  ADD_FAILURE() << "the reader refused the documents: " << run.output.substr(0, 200);
  return {};
}

inline nlohmann::json read_back(const char* format, const std::string& document) {
  std::vector<nlohmann::json> read = read_back(format, std::vector<std::string>{document});
  return read.empty() ? nlohmann::json() : read.front();
}

}  // namespace cloudinit_test
