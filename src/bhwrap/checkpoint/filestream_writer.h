// Sequential writing of a file through a buffered standard-library stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "bhwrap/checkpoint/filestream_file.h"

// A sink of bytes written in order.
class istreamwriter {
 public:
  virtual ~istreamwriter() = default;
  virtual bool is_open() const = 0;
  // Pushes buffered bytes to the file; false when not open or on failure.
  virtual bool flush() = 0;
  // Writes `count` bytes: the number written, or -1 when not open.
  virtual int64_t write(const void* buffer, size_t count) = 0;
  // Moves by `offset` from the current position: the new position, or -1.
  virtual int64_t skip(int64_t offset) = 0;
  // Writes one byte: the byte, or -1 when not open or on failure.
  virtual int put_byte(int byte) = 0;
};

namespace filestream {

class writer : public istreamwriter {
 public:
  writer() = default;
  ~writer() override = default;
  writer(const writer&) = delete;
  writer& operator=(const writer&) = delete;

  // An object with `path` opened (check is_open()).
  static std::unique_ptr<writer> create(const std::string& path, size_t buffer_size);

  // Creates or truncates `path` for writing, closing what was open; whether
  // it is open now.
  bool open(const std::string& path, size_t buffer_size);
  void close() { file_.close(); }

  bool is_open() const override { return static_cast<bool>(file_); }
  bool flush() override;
  int64_t write(const void* buffer, size_t count) override;
  int64_t skip(int64_t offset) override;
  int put_byte(int byte) override;

 private:
  buffered_file file_;
};

}  // namespace filestream
