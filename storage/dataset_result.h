// The result of the dataset and snapshot operations: the pair of the zvol
// operations, code 0 with a guid (or nothing) on success, a negative code
// with the message on failure.
#pragma once

#include "storage/zvol_result.h"

using dataset_result = zvol_result;

// Code of every operation given a session without a libzfs handle.
inline constexpr int32_t storage_not_initialized = -12;
