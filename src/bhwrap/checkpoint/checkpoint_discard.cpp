#include "bhwrap/checkpoint/checkpoint_discard.h"

#include <array>
#include <cerrno>
#include <system_error>

#include <fmt/format.h>

#include "bhwrap/checkpoint/checkpoint_file.h"
#include "bhwrap/checkpoint/checkpoint_format.h"
#include "platform/block_discard.h"

checkpoint_result discard_checkpoint(const std::string& path) {
  return discard_checkpoint(path, platform::discard_range);
}

checkpoint_result discard_checkpoint(const std::string& path, const range_discarder& discard) {
  CheckpointFile image;
  if (int err = image.open(path, true); err != 0)
    return {err == ENOENT ? discard_nothing : discard_failed,
            fmt::format("failed to open snapshot: {}", std::system_category().message(err))};

  int64_t size = image.size();
  if (size < 0) return {discard_failed, fmt::format("lseek: {}", std::system_category().message(errno))};

  int err = discard(image.fd(), 0, static_cast<uint64_t>(size));
  if (err == 0) return {discard_done, ""};

  // The delete failed: whether that matters depends on the header still being there.
  std::array<char, checkpoint::page_size> page{};
  ssize_t n = image.read_at(page.data(), page.size(), 0);
  int32_t code = discard_nothing;
  if (n < 0) {
    code = discard_failed;
  } else if (static_cast<size_t>(n) == page.size() &&
             std::string_view(page.data(), checkpoint::ident.size()) == checkpoint::ident) {
    code = discard_failed;
  }
  return {code, fmt::format("DIOCGDELETE: {}", std::system_category().message(err))};
}
