// Fuzz targets: a promise that an input breaks ends the process at once with
// what was seen, so that libFuzzer keeps the input and a replay fails.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include <spdlog/spdlog.h>

// What a target must undo before the process ends on a broken promise.
inline void (*fuzz_cleanup)() = nullptr;

#define FUZZ_CHECK(condition, detail)                                                  \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      std::fprintf(stderr, "%s:%d: broken: %s (%s)\n", __FILE__, __LINE__, #condition, \
                   std::string(detail).c_str());                                       \
      if (fuzz_cleanup) fuzz_cleanup();                                                \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

// The readers log what they refuse; a fuzz run would spend its time writing it.
inline void fuzz_quiet_logs() {
  static const bool quiet = [] {
    spdlog::set_level(spdlog::level::off);
    return true;
  }();
  (void)quiet;
}

// ---- helpers shared by the targets ----

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/host_root.h"

// The pieces of `text` between the occurrences of `separator` (one piece when
// it does not occur).
inline std::vector<std::string> fuzz_split(const std::string& text, const std::string& separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + separator.size())
    pieces.push_back(text.substr(start, at - start));
  pieces.push_back(text.substr(start));
  return pieces;
}

// The process's own host root (OMBRIX_ROOT) in a fresh temporary directory,
// made on first use and removed when the process ends normally or on a
// broken promise.
inline const std::string& fuzz_host_root() {
  static std::string path;
  struct Root {
    Root() {
      char pattern[] = "/tmp/ombrix-fuzz-XXXXXX";
      FUZZ_CHECK(::mkdtemp(pattern) != nullptr, "mkdtemp");
      path = pattern;
      ::setenv("OMBRIX_ROOT", path.c_str(), 1);
      platform::reload_host_root_for_tests();
    }
    ~Root() { remove(); }
    static void remove() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  };
  static Root root;
  if (!fuzz_cleanup) fuzz_cleanup = Root::remove;
  return path;
}

// Writes `text` to `path` (replacing it); ends the process when it cannot.
inline void fuzz_write_file(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(f != nullptr, "cannot write " + path);
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  FUZZ_CHECK(std::fclose(f) == 0 && ok, "cannot write " + path);
}

// A JSON-RPC peer that answers from a script, on its own thread: every request
// it reads (a complete JSON text) gets the next answer of the script; an empty
// answer, or the end of the script, closes the connection instead. Either on
// one connection (`connection`, owned) or on one connection per request
// accepted from `listener` (not owned). What it answered is in `exchanges`
// once the peer has ended (the destructor waits for that).
class FuzzScriptedPeer {
 public:
  struct Exchange {
    std::string request, answer;
  };

  FuzzScriptedPeer(int connection, int listener, std::vector<std::string> answers)
      : thread_([this, connection, listener, answers = std::move(answers)] {
          serve(connection, listener, answers);
        }) {}
  ~FuzzScriptedPeer() { finish(); }
  FuzzScriptedPeer(const FuzzScriptedPeer&) = delete;
  FuzzScriptedPeer& operator=(const FuzzScriptedPeer&) = delete;

  // Waits for the peer to end (its connection closed by the other side, or
  // the script done).
  const std::vector<Exchange>& finish() {
    if (thread_.joinable()) thread_.join();
    return exchanges_;
  }

 private:
  // Readable within 2 s (the peer never waits longer for the side under test).
  static bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    int rc;
    do rc = ::poll(&p, 1, 2000);
    while (rc < 0 && errno == EINTR);
    return rc == 1;
  }

  static bool read_request(int fd, std::string& request) {
    char buffer[65536];
    while (!nlohmann::json::accept(request)) {
      if (!readable(fd)) return false;
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) return false;
      request.append(buffer, static_cast<size_t>(n));
    }
    return true;
  }

  void serve(int connection, int listener, const std::vector<std::string>& answers) {
    for (const std::string& answer : answers) {
      if (listener >= 0) {
        if (!readable(listener)) return;
        connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) return;
      }
      Exchange exchange;
      if (!read_request(connection, exchange.request) || answer.empty()) break;
      exchange.answer = answer;
      bool sent = ::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL) ==
                  static_cast<ssize_t>(answer.size());
      exchanges_.push_back(std::move(exchange));
      if (!sent) break;
      if (listener >= 0) ::close(std::exchange(connection, -1));
    }
    if (connection >= 0) ::close(connection);
  }

  std::vector<Exchange> exchanges_;
  std::thread thread_;
};
