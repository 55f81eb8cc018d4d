#include "platform/process_title.h"

#include <sys/prctl.h>

#include <atomic>
#include <cstring>

#include <bsd/unistd.h>

namespace platform {
namespace {

std::atomic<bool> initialized{false};
// The start of the argument memory and the length of the original argv[0].
char* title_area = nullptr;
size_t first_arg_length = 0;

}  // namespace

void init_process_title(int argc, char** argv, char** envp) {
  if (argc < 1 || !argv || !argv[0]) return;
  title_area = argv[0];
  first_arg_length = std::strlen(argv[0]);
  ::setproctitle_init(argc, argv, envp);
  initialized = true;
}

void set_process_title(const std::string& text) {
  // The short name (15 characters) that tools such as top show.
  ::prctl(PR_SET_NAME, text.c_str(), 0, 0, 0);
  // A leading '-' keeps libbsd from prefixing the program name.
  if (!initialized) return;
  ::setproctitle("-%s", text.c_str());
  // libbsd marks the end of the original argv[0] with a '.' when the title is
  // shorter, which would show as a second argument "."; the rest of the memory
  // is already zero, so the marker can go.
  if (text.size() < first_arg_length && title_area[first_arg_length] == '.')
    title_area[first_arg_length] = '\0';
}

}  // namespace platform
