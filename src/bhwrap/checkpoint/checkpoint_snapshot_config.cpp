#include "bhwrap/checkpoint/checkpoint_snapshot_config.h"

#include <utility>

snapshot_config::snapshot_config(std::string path_, std::string vm_id_)
    : path(std::move(path_)), vm_id(std::move(vm_id_)) {}

const char* memory_format_name(int32_t memory_format) {
  switch (memory_format) {
    case memory_format_old: return "OLD";
    case memory_format_new: return "NEW";
    default: return "BAD";
  }
}
