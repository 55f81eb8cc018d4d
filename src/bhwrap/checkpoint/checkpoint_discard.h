// Discarding the checkpoint held by an image volume once the VM it suspended
// runs again, so that the volume no longer reads as a suspended VM.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "bhwrap/checkpoint/checkpoint_result.h"

inline constexpr int32_t discard_done = 0;
inline constexpr int32_t discard_nothing = 1;  // no image, or no header left
inline constexpr int32_t discard_failed = 2;

// Asks the device at `path` (a real host path) to delete its whole range.
// 0 discarded; 1 nothing to discard (no such file, or the delete failed but
// the header is gone anyway); 2 failed (the header may still be there).
checkpoint_result discard_checkpoint(const std::string& path);

// The same with the device's delete given: (descriptor, offset, length) to 0
// or an errno value, as platform::discard_range.
using range_discarder = std::function<int(int fd, uint64_t offset, uint64_t length)>;
checkpoint_result discard_checkpoint(const std::string& path, const range_discarder& discard);
