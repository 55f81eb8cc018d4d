#include "platform/thread_name.h"

#include <pthread.h>

#include <string>

namespace platform {

namespace {

// Linux keeps 16 bytes, the terminating null included.
constexpr size_t kMaxThreadName = 15;

}  // namespace

void name_this_thread(std::string_view name) {
  std::string text(name.substr(0, kMaxThreadName));
  ::pthread_setname_np(::pthread_self(), text.c_str());
}

}  // namespace platform
