// Test support: waiting, with a limit, for something another process or
// thread brings about.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace test_support {

// Polls `done` every 5 ms; true as soon as it holds, false once `limit` has
// passed without it.
inline bool eventually(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace test_support
