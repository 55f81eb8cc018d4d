// Runs a fuzz target over stored inputs, without libFuzzer: every file named
// on the command line, and every file of every directory named, in name
// order. A target that finds a broken promise aborts, and so does an input
// that takes longer than 10 s (a target that hangs); otherwise the count of
// inputs is printed and the status is 0.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

const char* current_input = "";

void on_alarm(int) {
  const char text[] = "input hung: ";
  (void)!::write(2, text, sizeof text - 1);
  (void)!::write(2, current_input, std::char_traits<char>::length(current_input));
  std::abort();
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGALRM, on_alarm);
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    if (!std::filesystem::is_directory(arg)) {
      files.push_back(arg);
      continue;
    }
    for (const auto& entry : std::filesystem::directory_iterator(arg))
      if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
      return 2;
    }
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "%s\n", file.c_str());
    current_input = file.c_str();
    ::alarm(10);
    LLVMFuzzerTestOneInput(data.data(), data.size());
    ::alarm(0);
  }
  std::printf("%zu inputs replayed\n", files.size());
  return files.empty() ? 2 : 0;
}
