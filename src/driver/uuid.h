// UUID texts in the lower-case 8-4-4-4-12 form.
#pragma once

#include <cstddef>
#include <string>

// A new random (version 4) UUID.
std::string make_uuid_text();

// A name-based UUID made from `length` bytes at `data`: the first 16 bytes of
// their SHA-1 digest (no name-space prefix) with version 5 and the RFC 4122
// variant. The same bytes always give the same text.
std::string sha1_uuid(const void* data, size_t length);
