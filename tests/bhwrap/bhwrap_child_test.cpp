// The child that becomes bhyve is forked while other threads of the wrapper
// run: it must get to bhyve without taking a lock that one of them may have
// held at the fork (the logger's, for one).
#include <pthread.h>

#include <atomic>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>
#include <spdlog/sinks/base_sink.h>

#include "driver/config.h"
#include "tests/bhwrap/bhwrap_test_host.h"

namespace bhwrap_test {
namespace {

std::atomic<bool> logger_held{false};

// A sink that writes to standard output; the message "hold" keeps the sink's
// lock for good.
class HoldingSink : public spdlog::sinks::base_sink<std::mutex> {
 protected:
  void sink_it_(const spdlog::details::log_msg& msg) override {
    std::string text(msg.payload.data(), msg.payload.size());
    if (text == "hold") {
      logger_held = true;
      while (true) std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  void flush_() override { std::fflush(stdout); }
};

// Before every fork: another thread takes the logger's lock and keeps it.
void hold_logger_before_fork() {
  std::thread([] { spdlog::info("hold"); }).detach();
  while (!logger_held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(BhWrapChild, BhyveStartsAlthoughAnotherThreadHeldTheLoggerAtTheFork) {
  WrapperHost host;
  host.control("ready_delay_ms=10\n");
  _command cmd = host.command();
  std::string log = host.wrapper_log_path();
  test_support::ChildProcess wrapper([&]() -> int {
    if (std::FILE* f = std::freopen(log.c_str(), "a", stdout)) ::dup2(::fileno(f), 2);
    spdlog::set_default_logger(
        std::make_shared<spdlog::logger>("wrapper", std::make_shared<HoldingSink>()));
    // With a memory domain to bind to, the child has something to report.
    Config::instance().cpu_domain = 0;
    ::pthread_atfork(&hold_logger_before_fork, nullptr, nullptr);
    run_wrapper(cmd, quick_timings());
  });
  // The wrapper itself stays stuck on the logger after the fork; bhyve runs.
  EXPECT_TRUE(test_support::eventually([&] { return contains(host.trace(), "pid="); }))
      << host.wrapper_log();
  EXPECT_TRUE(contains(host.start_log(), "/usr/sbin/bhyve -A -H -c 2")) << host.start_log();
}

}  // namespace
}  // namespace bhwrap_test
