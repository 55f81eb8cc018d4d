#include "pool/request/fifo_cleanup.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace {

constexpr int kSlots = 256;

struct Slot {
  std::atomic<bool> used{false};
  char path[PATH_MAX];
};

Slot slots[kSlots];
std::mutex slot_mutex;  // taking and giving back slots; the handler only reads
std::once_flag handlers_once;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void remove_registered(int signal) {
  for (Slot& slot : slots)
    if (slot.used.load(std::memory_order_acquire)) ::unlink(slot.path);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void install_handlers() {
  for (int signal : kSignals) {
    struct sigaction old {};
    if (::sigaction(signal, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = remove_registered;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
  }
}

}  // namespace

FifoCleanup::FifoCleanup(const std::string& mapped_path) : path_(mapped_path) {
  std::call_once(handlers_once, install_handlers);
  if (path_.size() >= PATH_MAX) return;
  std::lock_guard lock(slot_mutex);
  for (int i = 0; i < kSlots; ++i) {
    if (slots[i].used.load(std::memory_order_relaxed)) continue;
    std::memcpy(slots[i].path, path_.c_str(), path_.size() + 1);
    slots[i].used.store(true, std::memory_order_release);
    slot_ = i;
    return;
  }
}

FifoCleanup::~FifoCleanup() {
  if (slot_ >= 0) {
    std::lock_guard lock(slot_mutex);
    slots[slot_].used.store(false, std::memory_order_release);
  }
  ::unlink(path_.c_str());
}
