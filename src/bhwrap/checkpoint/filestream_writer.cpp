#include "bhwrap/checkpoint/filestream_writer.h"

namespace filestream {

std::unique_ptr<writer> writer::create(const std::string& path, size_t buffer_size) {
  auto object = std::make_unique<writer>();
  object->open(path, buffer_size);
  return object;
}

bool writer::open(const std::string& path, size_t buffer_size) {
  return file_.open(path, "wb", buffer_size);
}

bool writer::flush() { return file_ && std::fflush(file_.get()) == 0; }

int64_t writer::write(const void* buffer, size_t count) {
  if (!file_) return -1;
  return static_cast<int64_t>(std::fwrite(buffer, 1, count, file_.get()));
}

int64_t writer::skip(int64_t offset) {
  if (!file_ || std::fseek(file_.get(), offset, SEEK_CUR) != 0) return -1;
  return std::ftell(file_.get());
}

int writer::put_byte(int byte) {
  if (!file_) return -1;
  int c = std::fputc(byte, file_.get());
  return c == EOF ? -1 : c;
}

}  // namespace filestream
