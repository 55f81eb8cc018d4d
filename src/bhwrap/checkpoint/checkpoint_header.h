// Reading a checkpoint image's header: whether the image holds a checkpoint
// (a suspended VM), and for a resume the bhyve configuration stored in it and
// its memory table brought into the layout the kernel asks for.
#pragma once

#include "bhwrap/checkpoint/checkpoint_result.h"
#include "bhwrap/checkpoint/checkpoint_snapshot_config.h"

// Codes of read_checkpoint_header (0 = a checkpoint header is present).
inline constexpr int32_t header_open_failed = -1;    // "Failed to open snapshot file: ..."
inline constexpr int32_t header_short = -2;          // "Header read error"
inline constexpr int32_t header_bad_ident = -3;      // "Mismatched Ident"
inline constexpr int32_t header_bad_list = -4;       // "Header nvlist_unpack error"
inline constexpr int32_t header_bad_config = -5;     // the configuration section
inline constexpr int32_t header_bad_memory = -6;     // the memory section's place or layout
inline constexpr int32_t header_convert_failed = -7; // converting the memory table

// Reads the image at `snapshot.path`. With `ident_only`, only checks the
// identification. Otherwise checks that the sections lie inside the image,
// after the header page and apart from each other, loads `snapshot.config`
// and `snapshot.memory_format` and, when the table is in layout 0 and the
// kernel asks for layout 2 or later, converts the table to layout 1 on disk
// (`memory_format` stays 0).
// `config` is emptied first and keeps what was loaded when a later step fails.
checkpoint_result read_checkpoint_header(snapshot_config& snapshot, bool ident_only);
