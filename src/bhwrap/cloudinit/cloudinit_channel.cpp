#include "bhwrap/cloudinit/cloudinit_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>

#include <ev++.h>
#include <spdlog/spdlog.h>

#include "bhwrap/console/nmdm_path.h"
#include "driver/config.h"
#include "driver/uuid.h"
#include "ipc/mq_send.h"
#include "ipc/unique_fd.h"
#include "model/jsonrpc.h"
#include "platform/host_root.h"
#include "platform/thread_name.h"

namespace {

constexpr size_t kReadSize = 512;
constexpr const char* kLastRequestKey = "sdc:routes";
constexpr const char* kNegotiatePrefix = "NEGOTIATE";

struct LoopDeleter {
  void operator()(struct ev_loop* loop) const { ev_loop_destroy(loop); }
};
using LoopPtr = std::unique_ptr<struct ev_loop, LoopDeleter>;

struct CloudinitChannel {
  CloudinitChannel(Cloudinit ci, std::string id, CloudinitChannelTimings t)
      : filter(t.line_limit), cloudinit(std::move(ci)), vm_id(std::move(id)), timings(t) {}

  ev_io read_watcher{};
  ev_idle idle_watcher{};
  ev_timer silence_timer{};
  UniqueFd device;
  CloudinitLineFilter filter;
  Cloudinit cloudinit;
  std::string vm_id;
  bool first_data = true;
  CloudinitChannelTimings timings;
};

// Writes all of `text` however long it is, as fast as the guest takes it;
// gives up only when the guest has taken nothing for `stall_ms`. The bytes
// written; fewer than the text when it gave up or the device failed.
size_t write_response(int fd, const std::string& text, int stall_ms) {
  using Clock = std::chrono::steady_clock;
  auto stall_end = Clock::now() + std::chrono::milliseconds(stall_ms);
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      stall_end = Clock::now() + std::chrono::milliseconds(stall_ms);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return done;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(stall_end - Clock::now());
    if (left.count() <= 0) return done;
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(left.count()));
  }
  return done;
}

void answer_line(CloudinitChannel& ch, const std::optional<std::string>& line) {
  std::string response;
  if (!line) {
    spdlog::info("CloudInit: VM_id={} request line longer than {} bytes dropped", ch.vm_id,
                 ch.timings.line_limit);
    response = "invalid command";
  } else {
    auto [tag, answer] = ch.cloudinit.handle_request(*line);
    if (tag.starts_with(kNegotiatePrefix)) {
      spdlog::info("vm_id={} CloudInit session NEGOTIATE", ch.vm_id);
      send_guest_message(ch.vm_id, kCloudinitSessionNegotiate);
    } else if (tag == kLastRequestKey) {
      spdlog::info("vm_id={} CloudInit session last request", ch.vm_id);
      send_guest_message(ch.vm_id, kCloudinitSessionLastRequest);
    }
    response = std::move(answer);
  }
  response += "\n";
  const size_t written = write_response(ch.device.get(), response, ch.timings.write_stall_ms);
  if (written < response.size())
    spdlog::info("CloudInit: VM_id={} answer cut after {} of {} bytes (stall limit {} ms)",
                 ch.vm_id, written, response.size(), ch.timings.write_stall_ms);
}

void cloudinit_io_cb(struct ev_loop* loop, ev_io* w, int) {
  auto* ch = static_cast<CloudinitChannel*>(w->data);
  ev_io_stop(loop, &ch->read_watcher);
  ev_timer_stop(loop, &ch->silence_timer);
  ev_idle_start(loop, &ch->idle_watcher);
}

void cloudinit_read_cb(struct ev_loop* loop, ev_idle* w, int) {
  auto* ch = static_cast<CloudinitChannel*>(w->data);
  ev_idle_stop(loop, &ch->idle_watcher);

  char bytes[kReadSize];
  ssize_t n = ::read(ch->device.get(), bytes, sizeof bytes);
  if (n == 0) {
    ev_break(loop, EVBREAK_ONE);
    return;
  }
  if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
    // A device that fails (a hang-up) would wake the loop forever: end as at
    // end of file.
    spdlog::info("CloudInit: VM_id={} device read error: {}", ch->vm_id, std::strerror(errno));
    ev_break(loop, EVBREAK_ONE);
    return;
  }
  if (n > 0) {
    if (ch->first_data) {
      spdlog::info("vm_id={} CloudInit session begin", ch->vm_id);
      send_guest_message(ch->vm_id, kCloudinitSessionBegin);
      ch->first_data = false;
    }
    ch->filter.feed(std::string_view(bytes, static_cast<size_t>(n)),
                    [ch](std::optional<std::string> line) { answer_line(*ch, line); });
    ev_idle_start(loop, &ch->idle_watcher);
  }
  if (!ev_is_active(&ch->idle_watcher)) {
    ev_timer_set(&ch->silence_timer, ch->timings.silence_s, 0.);
    ev_timer_start(loop, &ch->silence_timer);
    ev_io_start(loop, &ch->read_watcher);
  }
}

void cloudinit_timeout_cb(struct ev_loop* loop, ev_timer* w, int) {
  ev_timer_stop(loop, w);
  ev_break(loop, EVBREAK_ONE);
}

// Raw 115200 baud with the modem lines ignored; a device whose settings cannot
// be read is used as it is.
void configure_device(int fd, const std::string& vm_id) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) {
    spdlog::warn("### CloudInit: VM_id={} Can't getting configure of NMDM. Trying as is", vm_id);
    return;
  }
  ::cfmakeraw(&t);
  ::cfsetispeed(&t, B115200);
  ::cfsetospeed(&t, B115200);
  t.c_cflag |= CLOCAL;
#ifdef CDSR_OFLOW
  t.c_cflag |= CDSR_OFLOW;
#endif
  ::tcsetattr(fd, TCSAFLUSH, &t);
}


}  // namespace

void send_guest_message(const std::string& vm_id, const std::string& text,
                        std::source_location where) {
  std::string error = mq_send_to_amqp(make_uuid_text(), Config::instance().event_key,
                                      make_vm_message_event(vm_id, text), "");
  if (!error.empty())
    spdlog::error("### MQ send error: {}; {} {}", error,
                  std::filesystem::path(where.file_name()).filename().string(), where.line());
}

void cloudinit_thread(Cloudinit cloudinit, std::string vm_id, std::string device,
                      CloudinitChannelTimings timings) {
  try {
    platform::name_this_thread("cloudinit");
    if (device.empty()) {
      VmConfig config;
      config.id = vm_id;
      device = nmdm_cloudinit_path(config, "B");
    }
    CloudinitChannel ch(std::move(cloudinit), vm_id, timings);
    ch.device.reset(::open(platform::host_path(device).c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY));
    if (!ch.device) {
      spdlog::error("### CloudInit: VM_id={} Can't open device with bhyve: {}.", vm_id, device);
      return;
    }
    configure_device(ch.device.get(), vm_id);
    spdlog::info("CloudInit: VM_id={} thread started on {}", vm_id, device);

    LoopPtr loop(ev_loop_new(0));
    if (!loop) throw ev::bad_loop();
    ev_set_io_collect_interval(loop.get(), timings.io_collect_s);

    ev_io_init(&ch.read_watcher, cloudinit_io_cb, ch.device.get(), EV_READ);
    ch.read_watcher.data = &ch;
    ev_idle_init(&ch.idle_watcher, cloudinit_read_cb);
    ch.idle_watcher.data = &ch;
    ev_timer_init(&ch.silence_timer, cloudinit_timeout_cb, timings.silence_s, 0.);
    ch.silence_timer.data = &ch;

    ev_io_start(loop.get(), &ch.read_watcher);
    ev_timer_start(loop.get(), &ch.silence_timer);
    ev_run(loop.get(), 0);

    ev_timer_stop(loop.get(), &ch.silence_timer);
    ev_io_stop(loop.get(), &ch.read_watcher);
    ev_idle_stop(loop.get(), &ch.idle_watcher);
    ch.device.reset();
    // The session's end is the last word of this thread: the wrapper may end
    // as soon as it is announced, and the logger with it.
    spdlog::info("CloudInit: VM_id={} thread finished", vm_id);
    send_guest_message(vm_id, kCloudinitSessionEnd);
  } catch (const std::exception& e) {
    spdlog::error("### CloudInit: VM_id={} thread failed: {}", vm_id, e.what());
  } catch (...) {
    spdlog::error("### CloudInit: VM_id={} thread failed: unknown exception", vm_id);
  }
}
