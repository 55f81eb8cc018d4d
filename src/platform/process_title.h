// The title a process shows in the process table.
#pragma once

#include <string>

namespace platform {

// Must run at the start of main, before anything changes the environment:
// takes over the memory of the argument vector so that titles can replace it.
void init_process_title(int argc, char** argv, char** envp);

// Replaces the calling process's command line in the process table by `text`
// exactly (no program-name prefix). Without init_process_title only the
// kernel's short thread name changes.
void set_process_title(const std::string& text);

}  // namespace platform
