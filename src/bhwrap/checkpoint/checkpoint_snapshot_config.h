// A checkpoint image as loaded by read_checkpoint_header: where it lies, the
// bhyve configuration stored in it and the layout of its memory table.
#pragma once

#include <cstdint>
#include <map>
#include <string>

// bhyve configuration keys to values, in byte order of the keys.
using checkpoint_config_map = std::map<std::string, std::string>;

// Layouts of the memory table (`memory_format`).
inline constexpr int32_t memory_format_unread = -1;
inline constexpr int32_t memory_format_old = 0;  // per-page header at byte 2048
inline constexpr int32_t memory_format_new = 1;  // per-page header at byte 0

struct snapshot_config {
  snapshot_config(std::string path, std::string vm_id);

  std::string path;   // the image (a volume device), as a real host path
  std::string vm_id;  // for log messages only
  checkpoint_config_map config;
  int32_t memory_format = memory_format_unread;
};

// "OLD", "NEW" or "BAD": the layout as the resume log names it.
const char* memory_format_name(int32_t memory_format);
