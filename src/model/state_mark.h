// Mark files of the state directories: empty-looking files whose presence is
// the information (a stopped pool, a suspended VM). Paths are used as given
// (already mapped to this host).
#pragma once

#include <string>

struct MarkProbe {
  bool present = false;
  int error = 0;  // errno when the presence could not be told
};

// Whether the mark is there; a missing mark (or missing directory) is not an error.
MarkProbe probe_mark(const std::string& path);

// Writes the mark atomically (its text is the local time it was set); "" or the reason.
std::string write_mark(const std::string& path);

// Removes the mark; a mark that is not there is fine. "" or the reason.
std::string remove_mark(const std::string& path);

// A pool name or VM id usable as a file name in a state directory: not empty,
// no '/', not "." or "..", no NUL. Names from requests are checked before a
// path is built from them.
bool valid_state_name(const std::string& name);
