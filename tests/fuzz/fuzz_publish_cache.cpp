// Fuzz target: the publish cache's stored entries (AmqpCacheFile's lines,
// AmqpCacheSQL's rows and database file) as the resend step takes them.
//
// Input: the first byte picks what is stored, the rest is the stored text:
//   0  the cache file, as it is
//   1  rows, one a line: msgid "|" queue "|" message (base64); a field "~" is
//      NULL, a field beginning with "#" is a BLOB of the rest, a missing
//      field is NULL
//   2  the database file, as it is
// A part after a form feed is a message to push afterwards: msgid, queue and
// message, separated by tabs.
//
// Promises: exactly the entries that are whole (a message id, a queue and a
// message stored as text that is base64 as driver/base64.h describes it) are handed out, in
// their order and with the message decoded; after each, the count left is
// the count of entries behind it; a damaged entry is never handed out; a
// pushed message is refused or comes back as pushed.
#include <sqlite3.h>

#include <cctype>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "amqp/publish_cache.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

struct Entry {
  std::optional<std::string> msgid, queue, message;  // as stored; nothing for NULL
  bool message_is_text = true;  // false for a row whose message is a number or a blob
  bool operator==(const Entry&) const = default;
};

std::string shown(const Entry& e) {
  auto field = [](const std::optional<std::string>& f) {
    return f ? nlohmann::json::binary({f->begin(), f->end()}) : nlohmann::json();
  };
  return nlohmann::json::array({field(e.msgid), field(e.queue), field(e.message)}).dump();
}

// The bytes of a base64 text as driver/base64.h describes it: either alphabet,
// either fill character, fill only where a group ends and nothing after it,
// a missing fill tolerated; nothing when the text is not such.
std::optional<std::string> decode_base64(const std::string& text) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  size_t fill = text.find_first_of("=.");
  const std::string data = text.substr(0, fill);
  const size_t fills = fill == std::string::npos ? 0 : text.size() - fill;
  if (fills > 0 && text.find_first_not_of("=.", fill) != std::string::npos) return std::nullopt;
  if (data.size() % 4 == 1) return std::nullopt;
  if (fills > 0 && (data.size() % 4 == 0 || data.size() % 4 + fills > 4)) return std::nullopt;
  std::string bytes;
  uint32_t bits = 0;
  int count = 0;
  for (char c : data) {
    size_t value = alphabet.find(c);
    if (c == '+' || c == '-') value = 62;
    if (c == '/' || c == '_') value = 63;
    if (value == std::string::npos || c == '\0') return std::nullopt;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    if ((count += 6) >= 8) bytes += static_cast<char>((bits >> (count -= 8)) & 0xff);
  }
  return bytes;
}

struct Message {
  std::string msgid, queue, message;
  bool operator==(const Message&) const = default;
};

// The message of a whole entry.
std::optional<Message> whole(const Entry& e) {
  if (!e.msgid || !e.queue || !e.message || !e.message_is_text || e.msgid->empty() || e.queue->empty())
    return std::nullopt;
  std::optional<std::string> bytes = decode_base64(*e.message);
  if (!bytes) return std::nullopt;
  return Message{*e.msgid, *e.queue, *bytes};
}

// The parts of a text at its first two "|" (missing parts are nothing).
Entry split_entry(const std::string& line) {
  std::vector<std::string> parts = fuzz_split(line, "|");
  Entry e;
  e.msgid = parts[0];
  if (parts.size() > 1) e.queue = parts[1];
  if (parts.size() > 2) {
    std::string rest;
    for (size_t i = 2; i < parts.size(); ++i) rest += (i > 2 ? "|" : "") + parts[i];
    e.message = rest;
  }
  return e;
}

// The entries of a cache file: its lines with two "|".
std::vector<Entry> file_entries(const std::string& text) {
  std::vector<std::string> lines = fuzz_split(text, "\n");
  if (lines.back().empty()) lines.pop_back();
  std::vector<Entry> entries;
  for (const std::string& line : lines) {
    Entry e = split_entry(line);
    if (e.message) entries.push_back(std::move(e));
  }
  return entries;
}

struct Db {
  sqlite3* db = nullptr;
  explicit Db(const std::string& path, int flags) {
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) close();
  }
  ~Db() { close(); }
  void close() {
    if (db) sqlite3_close_v2(db);
    db = nullptr;
  }
};

std::optional<std::string> column(sqlite3_stmt* s, int i) {
  if (sqlite3_column_type(s, i) == SQLITE_NULL) return std::nullopt;
  const char* text = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
  return std::string(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(s, i)));
}

// The rows of a database file as an independent reader sees them; nothing
// when it is not a sound database with the cache's table.
std::optional<std::vector<Entry>> db_entries(const std::string& path) {
  Db db(path, SQLITE_OPEN_READONLY);
  if (!db.db) return std::nullopt;
  std::vector<Entry> entries;
  sqlite3_stmt* s = nullptr;
  bool ok = sqlite3_prepare_v2(db.db, "PRAGMA quick_check(1);", -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW && column(s, 0) == "ok";
  sqlite3_finalize(s);
  if (!ok) return std::nullopt;
  // The cache's own table: ID (an integer primary key), MSGID, QUEUE, MESSAGE.
  std::string columns;
  ok = sqlite3_prepare_v2(db.db, "PRAGMA table_info(publish);", -1, &s, nullptr) == SQLITE_OK;
  while (ok && sqlite3_step(s) == SQLITE_ROW) {
    std::string name = column(s, 1).value_or(""), type = column(s, 2).value_or("");
    for (std::string* t : {&name, &type})
      for (char& c : *t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    columns += name + (columns.empty() ? ":" + type + ":" + std::to_string(sqlite3_column_int(s, 5)) : "") + ",";
  }
  sqlite3_finalize(s);
  if (!ok || columns != "ID:INTEGER:1,MSGID,QUEUE,MESSAGE,") return std::nullopt;
  ok = sqlite3_prepare_v2(db.db, "SELECT MSGID,QUEUE,MESSAGE FROM publish ORDER BY ID;", -1, &s, nullptr) ==
       SQLITE_OK;
  int rc = SQLITE_DONE;
  while (ok && (rc = sqlite3_step(s)) == SQLITE_ROW) {
    // The type before reading: reading a value as text converts it.
    const int message_type = sqlite3_column_type(s, 2);
    entries.push_back({column(s, 0), column(s, 1), column(s, 2),
                       message_type == SQLITE_TEXT || message_type == SQLITE_NULL});
  }
  sqlite3_finalize(s);
  if (!ok || rc != SQLITE_DONE) return std::nullopt;
  return entries;
}

void bind_field(sqlite3_stmt* s, int i, const std::optional<std::string>& field) {
  if (!field || *field == "~") {
    sqlite3_bind_null(s, i);
  } else if (!field->empty() && field->front() == '#') {
    sqlite3_bind_blob(s, i, field->data() + 1, static_cast<int>(field->size() - 1), SQLITE_TRANSIENT);
  } else {
    sqlite3_bind_text(s, i, field->data(), static_cast<int>(field->size()), SQLITE_TRANSIENT);
  }
}

void store_rows(const std::string& path, const std::string& text) {
  Db db(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  FUZZ_CHECK(db.db != nullptr, path);
  FUZZ_CHECK(sqlite3_exec(db.db,
                          "CREATE TABLE publish(ID INTEGER PRIMARY KEY AUTOINCREMENT,"
                          "MSGID CHAR(32),QUEUE CHAR(32),MESSAGE TEXT);",
                          nullptr, nullptr, nullptr) == SQLITE_OK,
             sqlite3_errmsg(db.db));
  sqlite3_stmt* s = nullptr;
  FUZZ_CHECK(sqlite3_prepare_v2(db.db, "INSERT INTO publish (MSGID,QUEUE,MESSAGE) VALUES (?1,?2,?3);", -1, &s,
                                nullptr) == SQLITE_OK,
             sqlite3_errmsg(db.db));
  for (const std::string& line : fuzz_split(text, "\n")) {
    Entry e = split_entry(line);
    bind_field(s, 1, e.msgid);
    bind_field(s, 2, e.queue);
    bind_field(s, 3, e.message);
    FUZZ_CHECK(sqlite3_step(s) == SQLITE_DONE, sqlite3_errmsg(db.db));
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
}

void remove_cache_files(const std::string& path) {
  for (const char* suffix : {".publish", ".publish.tmp", ".db", ".db-journal", ".db-wal", ".db-shm"})
    ::unlink((path + suffix).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_quiet_logs();
  if (size < 1 || data[0] > 2) return 0;
  const int kind = data[0];
  const std::vector<std::string> parts =
      fuzz_split(std::string(reinterpret_cast<const char*>(data) + 1, size - 1), "\f");
  const std::string& text = parts[0];
  const std::string path = fuzz_host_root() + "/ombrix-vm";
  remove_cache_files(path);

  std::vector<Entry> stored;
  if (kind == 0) {
    fuzz_write_file(path + ".publish", text);
    stored = file_entries(text);
  } else {
    if (kind == 1)
      store_rows(path + ".db", text);
    else
      fuzz_write_file(path + ".db", text);
    // A database that is not sound is started afresh: nothing of it is handed out.
    stored = db_entries(path + ".db").value_or(std::vector<Entry>{});
  }

  std::unique_ptr<AmqpPublishCache> cache = make_publish_cache(kind == 0 ? 0 : 1);
  (void)cache->open(path);
  std::vector<Message> expected;
  std::vector<size_t> behind;  // entries stored behind each whole one
  for (size_t i = 0; i < stored.size(); ++i) {
    if (std::optional<Message> m = whole(stored[i])) {
      expected.push_back(*m);
      behind.push_back(stored.size() - i - 1);
    }
  }
  for (size_t i = 0;; ++i) {
    PublishHead head = cache->head();
    FUZZ_CHECK(!head.busy, "busy without an entry handed out");
    if (head.msgid.empty()) {
      FUZZ_CHECK(i == expected.size(), fmt::format("{} of {} entries handed out", i, expected.size()));
      break;
    }
    Message got{head.msgid, head.queue, head.message};
    FUZZ_CHECK(i < expected.size() && got == expected[i],
               fmt::format("entry {} handed out as {}", i, shown({got.msgid, got.queue, got.message})));
    FUZZ_CHECK(cache->head().busy, "a second head while one is handed out");
    const uint64_t left = cache->pop();
    FUZZ_CHECK(left == behind[i],
               fmt::format("{} left after entry {}, {} stored behind it", left, i, behind[i]));
  }

  if (parts.size() < 2) return 0;
  const std::vector<std::string> fields = fuzz_split(parts[1], "\t");
  if (fields.size() < 3) return 0;
  Message pushed{fields[0], fields[1], fields[2]};
  for (size_t i = 3; i < fields.size(); ++i) pushed.message += "\t" + fields[i];
  if (pushed.msgid.empty() || pushed.queue.empty()) return 0;
  if (cache->push(pushed.msgid, pushed.message, pushed.queue)) return 0;  // refused
  PublishHead head = cache->head();
  FUZZ_CHECK((Message{head.msgid, head.queue, head.message} == pushed),
             "pushed " + shown({pushed.msgid, pushed.queue, pushed.message}) + ", handed out " +
                 shown({head.msgid, head.queue, head.message}));
  FUZZ_CHECK(cache->pop() == 0, "more than the pushed entry");
  return 0;
}
