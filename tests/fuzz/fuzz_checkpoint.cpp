// Fuzz target: read_checkpoint_header on damaged images, with the memory
// table conversion on or off.
//
// Input: one byte of options, then the image in 4096-byte pieces.
//   options bits 0-1  the kernel's memory-table layout setting: absent, "1",
//                     "2" or unreadable ("x")
//   options bit 2     identification only
//   options bit 3     the file is extended to the end of the 2 MiB stretch
//                     its last piece lies in (a memory section ends there)
//   piece j           at offset j * 4096 for j < 2, else 8192 + (j - 2) * 2 MiB
//                     (the header page, the configuration, then one table
//                     page every 2 MiB from 8192)
//
// Promises: the code is one of the reader's; a failure, an identification-only
// read and a read without conversion leave the image as it was; after a read
// that converted the table, the image reads again with the same configuration,
// the table in layout 1, and is not changed by that second read.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "bhwrap/checkpoint/checkpoint_format.h"
#include "bhwrap/checkpoint/checkpoint_header.h"
#include "hostlib/host_library_paths.h"
#include "hostlib/libnv_api.h"
#include "ipc/unique_fd.h"
#include "platform/host_root.h"
#include "platform/sysctl.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

constexpr const char* kImage = "/snapshot.bvmss";
constexpr uint64_t kStride = checkpoint::table_stride;

uint64_t piece_offset(size_t j) { return j < 2 ? j * checkpoint::page_size : 8192 + (j - 2) * kStride; }

// The host root of the whole run, in memory when the host has /dev/shm (every
// input writes an image), removed at the end of the run; the stand-in libnv
// is loaded from it.
class FuzzRoot {
 public:
  FuzzRoot() {
    std::string pattern = std::filesystem::is_directory("/dev/shm") ? "/dev/shm/fuzz-checkpoint-XXXXXX"
                                                                    : "/tmp/fuzz-checkpoint-XXXXXX";
    FUZZ_CHECK(::mkdtemp(pattern.data()), "mkdtemp " + pattern);
    dir() = pattern;
    fuzz_cleanup = remove;
    ::setenv("OMBRIX_ROOT", dir().c_str(), 1);
    platform::reload_host_root_for_tests();
    std::filesystem::path link = path(hostlib::libnv_path);
    std::filesystem::create_directories(link.parent_path());
    std::filesystem::create_symlink(SIM_LIBNV, link);
    FUZZ_CHECK(libnv_api::instance().library().loaded(), libnv_api::instance().library().load_error());
  }
  ~FuzzRoot() { remove(); }
  std::string path(const std::string& real) const { return dir() + real; }
  void write(const std::string& real, const std::string& text) const {
    std::ofstream(path(real)) << text;
  }

 private:
  static std::string& dir() {
    static std::string d;
    return d;
  }
  static void remove() {
    std::error_code ec;
    if (!dir().empty()) std::filesystem::remove_all(dir(), ec);
  }
};

FuzzRoot& root() {
  static FuzzRoot r;
  return r;
}

void set_kernel_layout(unsigned setting) {
  static int current = -1;
  if (current == static_cast<int>(setting)) return;
  current = static_cast<int>(setting);
  static const char* const values[] = {nullptr, "1", "2", "x"};
  const std::string file = root().path("/var/run/vmm/features.snapshot_memory_format");
  ::unlink(file.c_str());
  if (!values[setting]) return;
  std::string error;
  FUZZ_CHECK(platform::sysctl_set("hw.vmm.features.snapshot_memory_format",
                                  setting == 3 ? "1" : values[setting], &error),
             error);
  if (setting == 3) root().write("/var/run/vmm/features.snapshot_memory_format", "x\n");
}

// Writes the image and sets its modification time to the epoch, so that any
// later write shows.
void write_image(const uint8_t* data, size_t size, bool extend) {
  UniqueFd fd(::open(root().path(kImage).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  FUZZ_CHECK(fd, "open");
  uint64_t end = 0;
  for (size_t j = 0; j * checkpoint::page_size < size; ++j) {
    size_t n = std::min(checkpoint::page_size, size - j * checkpoint::page_size);
    FUZZ_CHECK(::pwrite(fd.get(), data + j * checkpoint::page_size, n,
                        static_cast<off_t>(piece_offset(j))) == static_cast<ssize_t>(n),
               "pwrite");
    end = piece_offset(j) + n;
  }
  if (extend && end > 8192) {
    end = 8192 + (end - 8192 + kStride - 1) / kStride * kStride;
    FUZZ_CHECK(::ftruncate(fd.get(), static_cast<off_t>(end)) == 0, "ftruncate");
  }
  const timespec epoch[2] = {{0, 0}, {0, 0}};
  FUZZ_CHECK(::futimens(fd.get(), epoch) == 0, "futimens");
}

struct Stamp {
  int64_t size, mtime_s, mtime_ns;
  bool operator==(const Stamp&) const = default;
};

Stamp stamp() {
  struct stat st{};
  FUZZ_CHECK(::stat(root().path(kImage).c_str(), &st) == 0, "stat");
  return {st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

std::string header_page() {
  std::string page(checkpoint::page_size, '\0');
  UniqueFd fd(::open(root().path(kImage).c_str(), O_RDONLY | O_CLOEXEC));
  FUZZ_CHECK(fd && ::pread(fd.get(), page.data(), page.size(), 0) >= 0, "read");
  return page;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_quiet_logs();
  if (size < 1) return 0;
  const unsigned options = data[0];
  const unsigned kernel = options & 3;
  const bool ident_only = options & 4;
  set_kernel_layout(kernel);
  write_image(data + 1, size - 1, options & 8);
  const Stamp written = stamp();
  const std::string header = header_page();

  snapshot_config snapshot(kImage, "1");
  checkpoint_result r = read_checkpoint_header(snapshot, ident_only);
  const std::string seen = fmt::format("{} {}", r.code, r.message);
  FUZZ_CHECK(r.code <= 0 && r.code >= header_convert_failed && r.code != header_open_failed, seen);
  FUZZ_CHECK(r.ok() == r.message.empty(), seen);
  if (ident_only) FUZZ_CHECK(snapshot.memory_format == memory_format_unread && snapshot.config.empty(), seen);
  const bool converted = r.ok() && !ident_only && snapshot.memory_format == memory_format_old && kernel == 2;
  if (!converted) {
    FUZZ_CHECK(stamp() == written, "image changed by " + seen);
    return 0;
  }

  // Converted: the header and the configuration as they were, the table in
  // layout 1 now and for good.
  FUZZ_CHECK(header_page() == header, "header page changed by the conversion");
  const Stamp after = stamp();
  FUZZ_CHECK(after.size == written.size, "image size changed by the conversion");
  snapshot_config again(kImage, "1");
  checkpoint_result r2 = read_checkpoint_header(again, false);
  const std::string seen2 = fmt::format("{} {}", r2.code, r2.message);
  FUZZ_CHECK(r2.ok(), "after conversion: " + seen2);
  FUZZ_CHECK(again.config == snapshot.config, "configuration changed by the conversion");
  FUZZ_CHECK(again.memory_format == memory_format_new,
             fmt::format("after conversion the table reads in layout {}", again.memory_format));
  FUZZ_CHECK(stamp() == after, "image changed by the read after the conversion");
  return 0;
}
