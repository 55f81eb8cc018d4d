// Checkpoint images as the hypervisor writes them and resumes from them:
//
//   header page (4096 bytes): the identification text at 0, the length of the
//     packed name/value list (u32) at 64, the list at 68, naming the sections
//     "config" {offset, size, type "text"} and "memory" {offset, size};
//   the configuration section: "key=value" lines;
//   the memory section: a chain of 4096-byte table pages, one every 2 MiB,
//     in the layout the kernel asks for (hw.vmm.features.snapshot_memory_format:
//     2 or more gives layout 1, anything else layout 0). The guest memory
//     between the table pages is left as a hole.
#pragma once

#include <optional>
#include <string>

#include "sim/bhyve/vm_settings.h"

namespace bhyve_sim {

// The memory-table layout the kernel asks for: 0 or 1.
int kernel_memory_layout();

// Writes an image of a VM with `config` at `path` (as this process opens it),
// in memory-table layout `layout`. Returns an error text on failure.
std::optional<std::string> write_checkpoint(const std::string& path, const Settings& config,
                                            int layout);

struct CheckpointRead {
  Settings config;
  std::string error;  // "" when the image was read
};

// Reads the image at `path`: its configuration, after checking the header and
// that the memory table is a complete chain in layout `layout`.
CheckpointRead read_checkpoint(const std::string& path, int layout);

}  // namespace bhyve_sim
