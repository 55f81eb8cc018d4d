// How the stand-in libvmmapi talks to the stand-in hypervisor.
//
// The hypervisor listens on a Unix stream socket at the VM's node
// "/dev/vmm/<name>" (under OMBRIX_ROOT when it is set). Each exchange is one
// connection carrying one request line and one reply line, both ended by "\n":
//
//   PING                      -> OK <n>      0 running, VM_PING_BOOTING or
//                                            VM_PING_RECEIVING otherwise
//   STATE                     -> OK booting | receiving | running | paused
//   GET_VCPU_CLASS            -> OK <class>
//   SET_VCPU_CLASS <class>    -> OK
//   PAUSE / RESUME            -> OK
//   RECONFIG <text>           -> OK          text: "key=value" lines
//   CHECKPOINT stop|keep <path>
//                             -> OK          image written at the real path
//   LIVESTREAM <address> <port>
//                             -> OK          the VM was taken by the receiver
//   CONFIG                    -> OK <text>   "key=value" lines in key order
//   VCPUS                     -> OK <count>
//   STATS <vcpu>              -> OK <n> <n> ...
//
// A failure answers "ERR <errno> <message>". Texts (<text>, <path>) are
// escaped with `escape` so that they stay on one line.
//
// A migration stream (LIVESTREAM to a hypervisor started with "-L port") is one
// TCP connection: the line "OMBRIX-VMM-STREAM 1 <length>\n", then <length>
// bytes of configuration text ("key=value" lines); the receiver answers "OK\n"
// once it has taken the VM, or "ERR <message>\n".
#pragma once

#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

namespace vmm_sim {

inline constexpr std::string_view node_dir = "/dev/vmm";
inline constexpr std::string_view stream_magic = "OMBRIX-VMM-STREAM 1";

// The node of VM `name` as this process must open it: under OMBRIX_ROOT when
// that names a directory. Read on every call, so one process may follow a
// changing root (tests).
inline std::string node_path(std::string_view name) {
  const char* env = std::getenv("OMBRIX_ROOT");
  std::string root = env ? env : "";
  while (!root.empty() && root.back() == '/') root.pop_back();
  std::string path = root;
  path.append(node_dir).append("/").append(name);
  return path;
}

// A VM name the node directory can hold: 1 to 64 of [A-Za-z0-9._-], not "."
// or "..".
inline bool valid_vm_name(std::string_view name) {
  if (name.empty() || name.size() > 64 || name == "." || name == "..") return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

// Backslash, line feed and carriage return as "\\", "\n", "\r".
inline std::string escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

inline std::string unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\\' || i + 1 == text.size()) {
      out += c;
      continue;
    }
    char next = text[++i];
    out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return out;
}

// "key=value" lines (the CONFIG payload, a migration stream, a checkpoint's
// configuration): in key order, and back. Lines without "=" or with an empty
// key are dropped; the first of a repeated key wins.
inline std::string settings_text(const std::map<std::string, std::string>& settings) {
  std::string text;
  for (const auto& [key, value] : settings) text += key + "=" + value + "\n";
  return text;
}

inline std::map<std::string, std::string> parse_settings(std::string_view text) {
  std::map<std::string, std::string> settings;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    size_t eq = line.find('=');
    if (eq != std::string_view::npos && eq > 0)
      settings.emplace(std::string(line.substr(0, eq)), std::string(line.substr(eq + 1)));
  }
  return settings;
}

// Writes all of `data` to the socket `fd` (no SIGPIPE); false on failure.
inline bool send_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace vmm_sim
