// The reply FIFOs this process has made, removed again also when the process
// is interrupted (SIGINT, SIGTERM, SIGHUP) while it waits for an answer.
// Each FIFO is registered for the time of its request; a signal whose
// disposition was the default removes every registered FIFO and then ends the
// process as the signal would have. Signals the process handles itself are
// left alone.
#pragma once

#include <string>

class FifoCleanup {
 public:
  // Registers the FIFO at `mapped_path` (as this process opens it).
  explicit FifoCleanup(const std::string& mapped_path);
  // Removes the FIFO and forgets it.
  ~FifoCleanup();
  FifoCleanup(const FifoCleanup&) = delete;
  FifoCleanup& operator=(const FifoCleanup&) = delete;

 private:
  std::string path_;
  int slot_ = -1;  // -1: more requests at once than slots; removed only here
};
