// A standard-library stream handle with the buffer it was given; both go
// together, the stream first.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace filestream {

class buffered_file {
 public:
  // Opens `path` (made absolute) with `mode`, fully buffered by a buffer of
  // `buffer_size` bytes, unbuffered when it is 0. Closed again when the buffer
  // cannot be set. Whether it is open now.
  bool open(const std::string& path, const char* mode, size_t buffer_size);
  void close();
  std::FILE* get() const { return file_.get(); }
  explicit operator bool() const { return file_ != nullptr; }

 private:
  struct closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<char[]> buffer_;  // declared first: outlives the stream
  std::unique_ptr<std::FILE, closer> file_;
};

}  // namespace filestream
