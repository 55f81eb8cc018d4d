// Opening a file of a state directory safely: the last component is never
// followed when it is a symbolic link, the open never blocks (a FIFO in its
// place would wait for a writer for ever), and anything but a regular file is
// refused with an error that says what is there instead.
#pragma once

#include <sys/types.h>

#include <string>

#include "ipc/unique_fd.h"

// Opens `path` (as this process must open it) with `flags` (O_RDONLY, O_RDWR,
// optionally O_CREAT with `mode`); the descriptor is blocking again once the
// file is known to be regular. On failure an invalid descriptor, errno kept,
// and `error` says why ("a FIFO, not a regular file", or the system's text).
UniqueFd open_regular_file(const std::string& path, int flags, mode_t mode, std::string& error);
