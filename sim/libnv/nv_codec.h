// The packed form of a libnv list (the format is described in
// hostapi/libnv.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "sim/libnv/nv_list.h"

namespace nv_sim {

// Deepest nesting of lists that unpack() accepts.
constexpr int max_depth = 32;

std::vector<uint8_t> pack(const libnv_nvlist& list);

// The list packed in exactly `size` bytes at `data`, or null when they are
// not a well-formed packed list with top-level flags `flags`. Reads nothing
// outside the buffer.
std::unique_ptr<libnv_nvlist> unpack(const uint8_t* data, size_t size, int flags);

}  // namespace nv_sim
