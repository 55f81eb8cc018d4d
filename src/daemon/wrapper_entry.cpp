#include "daemon/wrapper_entry.h"

#include "bhwrap/wrapper/bhwrap.h"

void become_wrapper(const _command& command, const BhWrapTimings& timings) {
  run_wrapper(command, timings);
}
