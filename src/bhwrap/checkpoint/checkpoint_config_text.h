// The configuration section of a checkpoint image: lines "key=value" ended by
// a line feed.
#pragma once

#include <string_view>

#include "bhwrap/checkpoint/checkpoint_snapshot_config.h"

// Parses the section text. The key runs up to the first '=' of a line, the
// value is the rest (later '=' included); the first occurrence of a key wins;
// a line without '=' is dropped; the last line needs no line feed. Nothing is
// trimmed or unescaped (a carriage return stays in the value; an empty key is
// a key).
checkpoint_config_map parse_checkpoint_config(std::string_view text);
