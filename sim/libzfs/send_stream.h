// The stand-in's replication streams, in a format of its own:
//
//   "OMBXZSND"  magic, 8 bytes
//   version     uint32, little-endian (1)
//   flags       uint32: 1 replicate, 2 every snapshot, 4 properties,
//               8 large blocks
//   length      uint64: bytes of the description that follows
//   checksum    uint64: FNV-1a of the description
//   description JSON: {"top": sent dataset, "from": source snapshot part or
//               "", "to": target snapshot part, "datasets": [{"name": path
//               below the top ("" for it), "type": N, "props": {...},
//               "from_guid": guid of the source snapshot (incremental
//               streams), "snapshots": [{"name", "guid", "creation",
//               "props"}...] oldest first}...] parents first}
//   "OMBXZEND"  trailer, 8 bytes
//
// Datasets carry their properties, not their blocks.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "sim/libzfs/zfs_model.h"

namespace zfs_sim {

struct SendRequest {
  std::string dataset, from, to;  // snapshot parts without '@'; `from` may be empty
  bool replicate = false, doall = false, props = false, largeblock = false;
};

// The stream for `request`, or why it cannot be sent.
std::variant<std::string, Failure> build_stream(ZfsModel& model, const SendRequest& request);

// Receives `stream` as `target` (and below it); with `force` the target is
// first rolled back to the stream's source snapshot. Nothing changes on
// failure.
Outcome receive_stream(ZfsModel& model, const std::string& target, const std::string& stream,
                       bool force);

}  // namespace zfs_sim
