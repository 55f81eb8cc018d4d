// A section of a checkpoint image as the header list names it: `size` bytes
// at `offset`.
#pragma once

#include <cstdint>

struct ImageSection {
  uint64_t offset = 0;
  uint64_t size = 0;

  // Whether the two share a byte; an empty section shares none. Sections
  // reaching beyond 64 bits end at the last offset.
  bool overlaps(const ImageSection& other) const {
    if (size == 0 || other.size == 0) return false;
    return offset <= other.last() && other.offset <= last();
  }
  uint64_t last() const { return size - 1 > UINT64_MAX - offset ? UINT64_MAX : offset + size - 1; }
};
