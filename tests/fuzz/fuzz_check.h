// Fuzz targets: a promise that an input breaks ends the process at once with
// what was seen, so that libFuzzer keeps the input and a replay fails.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include <spdlog/spdlog.h>

// What a target must undo before the process ends on a broken promise.
inline void (*fuzz_cleanup)() = nullptr;

#define FUZZ_CHECK(condition, detail)                                                  \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      std::fprintf(stderr, "%s:%d: broken: %s (%s)\n", __FILE__, __LINE__, #condition, \
                   std::string(detail).c_str());                                       \
      if (fuzz_cleanup) fuzz_cleanup();                                                \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

// The readers log what they refuse; a fuzz run would spend its time writing it.
inline void fuzz_quiet_logs() {
  static const bool quiet = [] {
    spdlog::set_level(spdlog::level::off);
    return true;
  }();
  (void)quiet;
}
