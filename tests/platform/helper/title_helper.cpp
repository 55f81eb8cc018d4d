// Test helper: "title_helper --title TEXT" sets its process title to TEXT;
// with any other arguments it keeps its command line. Either way it then
// waits until it is killed.
#include <unistd.h>

#include <cstring>

#include "platform/process_title.h"

int main(int argc, char** argv, char** envp) {
  platform::init_process_title(argc, argv, envp);
  if (argc == 3 && std::strcmp(argv[1], "--title") == 0) platform::set_process_title(argv[2]);
  for (;;) ::pause();
}
