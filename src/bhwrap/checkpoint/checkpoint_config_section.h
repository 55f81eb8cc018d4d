// Loading the configuration section of a checkpoint image.
#pragma once

#include <optional>
#include <string>

#include "bhwrap/checkpoint/checkpoint_file.h"
#include "bhwrap/checkpoint/checkpoint_section.h"
#include "bhwrap/checkpoint/checkpoint_snapshot_config.h"
#include "hostlib/libnv.h"

// Reads the section that the header list names ("config": offset, size and
// type "text") from `image` and parses it into `config`. The section is read
// in whole pages; one that does not lie within the image after the header
// page, or is larger than checkpoint::max_config_size, is refused before
// anything is read or allocated. `where` receives the section's offset and
// size once they are read. On failure, the message.
std::optional<std::string> read_config_section(const CheckpointFile& image,
                                               const libnv::nvlist_t* header,
                                               checkpoint_config_map& config,
                                               ImageSection& where);
