// The stand-in's send and receive entry points: streams of send_stream.h
// through a file descriptor.
#pragma GCC visibility push(default)
#include <libzfs.h>
#pragma GCC visibility pop

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/libzfs/entry_helpers.h"
#include "sim/libzfs/send_stream.h"

using zfs_sim::Failure;
using zfs_sim::Outcome;
using zfs_sim::ZfsModel;

namespace {

// Writes all of `bytes`; nothing or the failure.
Outcome write_all(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Failure{EZFS_IO, std::string("cannot write stream: ") + std::strerror(errno)};
    done += static_cast<size_t>(n);
  }
  return std::nullopt;
}

// Reads up to the end of the input.
Outcome read_all(int fd, std::string& bytes) {
  char buffer[65536];
  while (true) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Failure{EZFS_IO, std::string("cannot read stream: ") + std::strerror(errno)};
    if (n == 0) return std::nullopt;
    bytes.append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace

extern "C" {

int zfs_send(zfs_handle_t* zhp, const char* fromsnap, const char* tosnap, zfs_send_flags_t* flags,
             int outfd, snapfilter_cb_t, void*, nvlist_t**) {
  if (!zhp || !tosnap || !flags) return -1;
  zfs_sim::SendRequest request{zhp->name, fromsnap ? fromsnap : "", tosnap,
                               flags->replicate != B_FALSE, flags->doall != B_FALSE,
                               flags->props != B_FALSE, flags->largeblock != B_FALSE};
  std::string stream;
  Outcome outcome = zfs_sim::with_model(zhp->hdl, "zfs_send", [&](ZfsModel& model) -> Outcome {
    auto built = zfs_sim::build_stream(model, request);
    if (auto* failure = std::get_if<Failure>(&built)) return *failure;
    stream = std::move(std::get<std::string>(built));
    return std::nullopt;
  });
  // The stream is written without the model's lock: its reader may need it.
  if (!outcome) outcome = write_all(outfd, stream);
  if (outcome) return zfs_sim::record(zhp->hdl, zfs_sim::quoted("cannot send", zhp->name), *outcome);
  return 0;
}

int zfs_receive(libzfs_handle_t* hdl, const char* tosnap, nvlist_t*, zfs_recv_flags_t* flags,
                int infd, void*) {
  if (!hdl || !tosnap) return -1;
  std::string stream;
  std::string action = zfs_sim::quoted("cannot receive into", tosnap);
  if (Outcome failure = read_all(infd, stream)) return zfs_sim::record(hdl, action, *failure);
  bool force = flags && flags->force != B_FALSE;
  return zfs_sim::change(hdl, "zfs_receive", action, tosnap, [&](ZfsModel& model) {
    return zfs_sim::receive_stream(model, tosnap, stream, force);
  });
}

}  // extern "C"
