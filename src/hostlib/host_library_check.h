// The start-up check of the host libraries: which loaded, which entry points
// are missing. "start" refuses to run when libnvpair, libnv or libzfs lack
// anything; a libvmmapi problem is only reported.
#pragma once

#include <string>
#include <vector>

struct HostLibraryStatus {
  std::string name;  // "libzfs"
  std::string path;  // the real host path
  bool required = true;
  bool loaded = false;
  std::string load_error;            // "" when loaded
  std::vector<std::string> missing;  // every name when not loaded

  bool ok() const { return loaded && missing.empty(); }
};

struct HostLibraryCheck {
  // libnvpair, libnv, libzfs, libvmmapi, in this order.
  std::vector<HostLibraryStatus> libraries;

  // Every required library loaded with all its entry points.
  bool passed() const;
  // One log line per library: " * " for a good one, "!!! " for a required
  // one with a problem, "### " for an optional one with a problem.
  std::vector<std::string> messages() const;
  // Writes messages() to the default logger (info, error or warning).
  void log() const;
};

// Loads every host library through its process-wide binding (the first use
// of each) and reports on each.
HostLibraryCheck check_host_libraries();
