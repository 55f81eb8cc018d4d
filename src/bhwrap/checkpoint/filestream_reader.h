// Sequential reading of a file through a buffered standard-library stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "bhwrap/checkpoint/filestream_file.h"

// A source of bytes read in order.
class istreamreader {
 public:
  virtual ~istreamreader() = default;
  // Reads up to `count` bytes: the number read, or -1 when not open.
  virtual int64_t read(void* buffer, size_t count) = 0;
  // Moves by `offset` from the current position: the new position, or -1.
  virtual int64_t skip(int64_t offset) = 0;
  // The current position, or -1.
  virtual int64_t position() = 0;
  // The next byte, or -1 at the end or when not open.
  virtual int next_byte() = 0;
};

namespace filestream {

class reader : public istreamreader {
 public:
  reader() = default;
  ~reader() override = default;
  reader(const reader&) = delete;
  reader& operator=(const reader&) = delete;

  // An object with `path` opened (check is_open()).
  static std::unique_ptr<reader> create(const std::string& path, size_t buffer_size);

  // Opens `path` for reading, closing what was open; whether it is open now.
  bool open(const std::string& path, size_t buffer_size);
  bool is_open() const { return static_cast<bool>(file_); }
  void close() { file_.close(); }

  int64_t read(void* buffer, size_t count) override;
  int64_t skip(int64_t offset) override;
  int64_t position() override;
  int next_byte() override;

 private:
  buffered_file file_;
};

}  // namespace filestream
