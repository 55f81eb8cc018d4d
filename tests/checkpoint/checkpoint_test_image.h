// Building checkpoint images (and pieces of them) for the tests, in files of
// a test_support::TempRoot.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "bhwrap/checkpoint/checkpoint_format.h"
#include "bhwrap/checkpoint/checkpoint_result.h"
#include "tests/support/temp_root.h"

namespace checkpoint_test {

using Page = std::array<uint8_t, checkpoint::page_size>;
using Bytes = std::vector<uint8_t>;
using test_support::TempRoot;

// A result as "<code> <message>", to compare both at once.
inline std::string text(const checkpoint_result& r) { return std::to_string(r.code) + " " + r.message; }

template <class T>
void put(uint8_t* at, T value) {
  std::memcpy(at, &value, sizeof value);
}
template <class T>
T get(const uint8_t* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// A layout-0 table page: the entries, the end mark when fewer than 511, the
// magic at 2048 and the last-page flag.
inline Page old_page(const std::vector<uint32_t>& entries, bool last) {
  Page page{};
  for (size_t i = 0; i < entries.size(); ++i) put<uint32_t>(&page[i * 4], entries[i]);
  if (entries.size() < checkpoint::max_table_entries)
    put<uint32_t>(&page[entries.size() * 4], checkpoint::table_end_entry);
  put<uint64_t>(&page[checkpoint::old_magic_offset], checkpoint::table_magic);
  put<uint32_t>(&page[checkpoint::old_flags_offset], last ? 4u : 0u);
  return page;
}

// A layout-1 table page with the entries.
inline Page new_page(const std::vector<uint32_t>& entries, bool last) {
  Page page{};
  put<uint64_t>(&page[0], checkpoint::table_magic | (last ? 1u : 0u));
  page[8] = 1;
  page[9] = 1;
  put<uint16_t>(&page[10], static_cast<uint16_t>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) put<uint32_t>(&page[12 + i * 4], entries[i]);
  return page;
}

inline void write_at(const std::string& path, uint64_t offset, const void* data, size_t size) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0 || ::pwrite(fd, data, size, static_cast<off_t>(offset)) != static_cast<ssize_t>(size))
    ADD_FAILURE() << "cannot write " << path;
  if (fd >= 0) ::close(fd);
}

inline Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  Bytes data(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return data;
}

// Writes `data` as the whole file, its zero pages left as holes.
inline void write_file(const std::string& path, const Bytes& data) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && ::ftruncate(fd, static_cast<off_t>(data.size())) == 0;
  for (size_t at = 0; ok && at < data.size(); at += checkpoint::page_size) {
    size_t n = std::min(checkpoint::page_size, data.size() - at);
    if (std::all_of(&data[at], &data[at] + n, [](uint8_t b) { return b == 0; })) continue;
    ok = ::pwrite(fd, &data[at], n, static_cast<off_t>(at)) == static_cast<ssize_t>(n);
  }
  if (!ok) ADD_FAILURE() << "cannot write " << path;
  if (fd >= 0) ::close(fd);
}

// The entries 1, 2, ..., n offset by `base`.
inline std::vector<uint32_t> entries(size_t n, uint32_t base = 0) {
  std::vector<uint32_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = base + static_cast<uint32_t>(i) + 1;
  return out;
}

}  // namespace checkpoint_test
