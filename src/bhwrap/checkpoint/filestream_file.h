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
  // The largest buffer a stream takes; a larger size is refused as a
  // caller's mistake before anything is allocated.
  static constexpr size_t kMaxBufferSize = size_t{64} << 20;

  // Opens `path` (made absolute) with `mode`, fully buffered by a buffer of
  // `buffer_size` bytes, unbuffered when it is 0. Refused for a size above
  // kMaxBufferSize; closed again when the buffer cannot be had or set.
  // Whether it is open now.
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
