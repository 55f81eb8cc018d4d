#include "sim/libzfs/handles.h"

#include <cstdio>

namespace zfs_sim {

int record(libzfs_handle* hdl, const std::string& action, const Failure& failure) {
  if (!hdl) return -1;
  hdl->error = failure.code;
  hdl->description = failure.text.empty() ? error_text(failure.code) : failure.text;
  if (hdl->print) std::fprintf(stderr, "%s: %s\n", action.c_str(), hdl->description.c_str());
  return -1;
}

int unsupported(libzfs_handle* hdl, const char* function) {
  return record(hdl, function, Failure{EZFS_NOTSUP, error_text(EZFS_NOTSUP)});
}

}  // namespace zfs_sim
