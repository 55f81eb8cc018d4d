// The program's entry: command line, checks and the top-level actions.
#pragma once

#include <chrono>

class MainDaemon;
struct Config;

// Runs the program; returns its exit status.
int app_main(int argc, char** argv);

// The top-level actions: start, stop, status, inventory; the vm and pool
// systems are handed on.
class Driver {
 public:
  struct Options {
    // "stop" polls this often, this far apart, for the processes to end
    // after SIGTERM, and again after SIGKILL.
    int stop_polls = 45;
    std::chrono::milliseconds stop_poll_interval{100};
  };

  Driver(MainDaemon& daemon, const Config& config) : Driver(daemon, config, Options{}) {}
  Driver(MainDaemon& daemon, const Config& config, Options options)
      : daemon_(daemon), config_(config), options_(options) {}

  // Performs the action of the configuration's command-line fields; returns
  // the exit status.
  int exec();

 private:
  int start();
  int stop();
  int status();
  int inventory();

  MainDaemon& daemon_;
  const Config& config_;
  Options options_;
};
