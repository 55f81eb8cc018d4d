// The place of a checkpoint image's memory section, checked before its table
// is read or rewritten: the conversion writes table pages where the header
// list says, so a section in the wrong place would overwrite the header or
// the configuration.
#pragma once

#include <optional>
#include <string>

#include "bhwrap/checkpoint/checkpoint_file.h"
#include "bhwrap/checkpoint/checkpoint_section.h"
#include "hostlib/libnv.h"

// Takes the section "memory" (offset and size) of the header list into
// `memory` and checks that it is not empty, lies after the header page and
// inside `image` together with every table page of its chain, and shares no
// byte with the configuration section `config`. On failure, the message.
std::optional<std::string> read_memory_section(const CheckpointFile& image,
                                               const libnv::nvlist_t* header,
                                               const ImageSection& config, ImageSection& memory);
