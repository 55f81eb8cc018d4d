// The size of a data object that a loaded shared library exports, read from
// the library's symbol table: how far a table reached by its address
// really goes.
#pragma once

#include <cstddef>

namespace platform {

// The size in bytes of the exported data object at `address`; 0 when the
// address is no exported object or its size is not recorded.
size_t data_object_size(const void* address);

}  // namespace platform
