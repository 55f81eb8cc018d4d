// Whole-file replacement that a reader never sees half done.
#pragma once

#include <sys/types.h>

#include <string>

// Writes `text` to a temporary file of this call alone ("<path>.tmp-XXXXXX"),
// flushes it to the disk, renames it over `path` and flushes the directory, so
// that `path` holds either the old or the new contents, never a part, also
// when several writers replace it at once. `path` is used as given (map fixed host paths before calling). Returns
// "" on success, else the reason; on failure `path` is untouched and the
// temporary file is removed.
std::string write_file_atomic(const std::string& path, const std::string& text,
                              mode_t mode = 0644);
