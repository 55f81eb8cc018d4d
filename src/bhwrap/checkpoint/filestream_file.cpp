#include "bhwrap/checkpoint/filestream_file.h"

#include <filesystem>
#include <new>
#include <system_error>

namespace filestream {

bool buffered_file::open(const std::string& path, const char* mode, size_t buffer_size) {
  close();
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) return false;
  file_.reset(std::fopen(absolute.c_str(), mode));
  if (!file_) return false;
  int rc = -1;
  if (buffer_size == 0) {
    rc = std::setvbuf(file_.get(), nullptr, _IONBF, 0);
  } else {
    buffer_.reset(new (std::nothrow) char[buffer_size]);
    if (buffer_) rc = std::setvbuf(file_.get(), buffer_.get(), _IOFBF, buffer_size);
  }
  if (rc != 0) close();
  return file_ != nullptr;
}

void buffered_file::close() {
  file_.reset();
  buffer_.reset();
}

}  // namespace filestream
