#include "model/command.h"

#include <algorithm>

uint16_t make_topology(uint64_t cores, uint64_t sockets, uint64_t threads) {
  uint64_t c = std::min<uint64_t>(cores, 0xff);
  uint64_t s = std::min<uint64_t>(sockets, 0xf);
  uint64_t t = std::min<uint64_t>(threads, 0xf);
  return static_cast<uint16_t>(c | (s << 8) | (t << 12));
}
