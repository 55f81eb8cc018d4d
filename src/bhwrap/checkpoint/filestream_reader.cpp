#include "bhwrap/checkpoint/filestream_reader.h"

namespace filestream {

std::unique_ptr<reader> reader::create(const std::string& path, size_t buffer_size) {
  auto object = std::make_unique<reader>();
  object->open(path, buffer_size);
  return object;
}

bool reader::open(const std::string& path, size_t buffer_size) {
  return file_.open(path, "rb", buffer_size);
}

int64_t reader::read(void* buffer, size_t count) {
  if (!file_) return -1;
  return static_cast<int64_t>(std::fread(buffer, 1, count, file_.get()));
}

int64_t reader::skip(int64_t offset) {
  if (!file_ || std::fseek(file_.get(), offset, SEEK_CUR) != 0) return -1;
  return std::ftell(file_.get());
}

int64_t reader::position() {
  if (!file_) return -1;
  return std::ftell(file_.get());
}

int reader::next_byte() {
  if (!file_) return -1;
  int c = std::fgetc(file_.get());
  return c == EOF ? -1 : c;
}

}  // namespace filestream
