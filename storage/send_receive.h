// Replication streams: sending a snapshot (with the tree below it) to a file
// descriptor and receiving one from it. Both are recorded in the pool
// history, failures included.
#pragma once

#include <cstdint>
#include <string>

#include "storage/dataset_result.h"
#include "storage/zfs_session.h"

struct receive_result {
  int32_t code = 0;          // 0 or -1
  int32_t error_number = 0;  // libzfs's error number; 2000 when no property list could be made
  std::string text;
};

// Sends dataset@target with every dataset below it and their properties to
// `fd`: a full stream when `source` is empty, else an incremental one from
// dataset@source, through every snapshot in between unless `single_step`.
// Code 0, or -1 with libzfs's reason.
dataset_result send_snapshot(zfs_session& session, int32_t fd, const std::string& dataset,
                             const std::string& target, const std::string& source,
                             bool single_step);

// Receives a stream from `fd` into `target`, rolling the target back first
// where it changed since the stream's source snapshot.
receive_result receive_snapshot(zfs_session& session, int32_t fd, const std::string& target);
