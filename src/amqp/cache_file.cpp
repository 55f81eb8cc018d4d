#include "amqp/cache_file.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

#include "driver/base64.h"

namespace {

struct Line {
  std::string msgid, queue, message;
};

// The parts of a line with two "|", or nothing.
std::optional<Line> split_line(const std::string& line) {
  auto first = line.find('|');
  if (first == std::string::npos) return std::nullopt;
  auto second = line.find('|', first + 1);
  if (second == std::string::npos) return std::nullopt;
  return Line{line.substr(0, first), line.substr(first + 1, second - first - 1),
              line.substr(second + 1)};
}

std::vector<std::string> read_lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// Writes the lines to path + ".tmp", flushes it and renames it into place.
bool write_lines(const std::string& path, const std::vector<std::string>& lines) {
  std::string tmp = path + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "w");
  if (!f) return false;
  bool ok = true;
  // Whole lines: a message id or queue may hold any byte but "|" and a line break.
  for (const auto& l : lines)
    ok = ok && std::fwrite(l.data(), 1, l.size(), f) == l.size() && std::fputc('\n', f) != EOF;
  ok = ok && std::fflush(f) == 0 && ::fsync(fileno(f)) == 0;
  ok = (std::fclose(f) == 0) && ok;
  if (ok && std::rename(tmp.c_str(), path.c_str()) == 0) return true;
  ::unlink(tmp.c_str());
  return false;
}

}  // namespace

std::optional<std::string> AmqpCacheFile::open(const std::string& path) {
  SpinGuard guard(lock_);
  path_ = path + ".publish";
  in_flight_ = false;
  return std::nullopt;
}

std::optional<std::string> AmqpCacheFile::push(const std::string& msgid, const std::string& message,
                                               const std::string& queue) {
  // A "|" or a line break would end the field or the line early: the entry
  // would be lost, or read back as another entry with another queue.
  // A NUL would cut the line where it is read as text.
  constexpr std::string_view kUnkept("|\n\0", 3);
  if (msgid.find_first_of(kUnkept) != std::string::npos ||
      queue.find_first_of(kUnkept) != std::string::npos)
    return "the message id or queue holds '|', a line break or NUL, which the cache file cannot "
           "keep";
  std::string line = msgid + "|" + queue + "|" + base64_encode(message) + "\n";
  SpinGuard guard(lock_);
  FILE* f = std::fopen(path_.c_str(), "a");
  if (!f) return "cannot open '" + path_ + "' for append";
  bool ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) return "cannot write to '" + path_ + "'";
  return std::nullopt;
}

PublishHead AmqpCacheFile::head() {
  SpinGuard guard(lock_);
  if (in_flight_) {
    PublishHead busy;
    busy.busy = true;
    return busy;
  }
  for (;;) {
    std::optional<Line> found;
    for (const auto& line : read_lines(path_)) {
      if ((found = split_line(line))) break;
    }
    if (!found) return {};
    PublishHead head;
    head.msgid = found->msgid;
    head.queue = found->queue;
    std::string bad;
    try {
      head.message = base64_decode(found->message);
    } catch (const std::exception&) {
      bad = "the head record of publish cache is not valid base64";
    }
    if (bad.empty() && (head.msgid.empty() || head.queue.empty()))
      bad = "the head record of publish cache has no message id or queue";
    if (bad.empty()) {
      in_flight_ = true;
      return head;
    }
    // An unusable head would block every entry behind it: it is dropped.
    error_ = bad + " (msgid '" + head.msgid + "'); it is removed";
    uint64_t left = 0;
    if (!drop_first_line(&left)) {
      // It stays first: taking it again would never end.
      error_ = bad + " (msgid '" + head.msgid + "'); it cannot be removed: cannot rewrite '" +
               path_ + "'";
      return {};
    }
  }
}

bool AmqpCacheFile::drop_first_line(uint64_t* left) {
  std::vector<std::string> kept;
  bool dropped = false;
  // Lines that are not entries go with the head: they can never be sent, and
  // keeping them in front would make the next pop remove the wrong entry.
  for (auto& line : read_lines(path_)) {
    if (!split_line(line)) continue;
    if (!dropped) {
      dropped = true;
      continue;
    }
    kept.push_back(std::move(line));
  }
  *left = kept.size();
  if (!kept.empty()) return write_lines(path_, kept);
  if (::unlink(path_.c_str()) != 0) return write_lines(path_, {});
  return true;
}

uint64_t AmqpCacheFile::pop() {
  SpinGuard guard(lock_);
  in_flight_ = false;
  uint64_t left = 0;
  // Else the head stays and goes out again (at least once).
  if (!drop_first_line(&left)) error_ = "cannot rewrite '" + path_ + "'";
  return left;
}

void AmqpCacheFile::release_head() {
  SpinGuard guard(lock_);
  in_flight_ = false;
}

bool AmqpCacheFile::usable() { return !path_.empty(); }

std::optional<std::string> AmqpCacheFile::take_error() {
  SpinGuard guard(lock_);
  if (error_.empty()) return std::nullopt;
  std::string e = std::move(error_);
  error_.clear();
  return e;
}
