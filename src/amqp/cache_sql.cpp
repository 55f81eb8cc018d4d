#include "amqp/cache_sql.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "driver/base64.h"

namespace {

constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS publish(ID      INTEGER PRIMARY KEY AUTOINCREMENT,"
    "MSGID   CHAR(32),QUEUE   CHAR(32),MESSAGE TEXT);";
constexpr const char* kInsert = "INSERT INTO publish (MSGID,QUEUE,MESSAGE) VALUES (?1, ?2, ?3);";
constexpr const char* kSelectHead =
    "SELECT MSGID,QUEUE,MESSAGE FROM publish WHERE ID = (SELECT MIN(ID) FROM publish);";
constexpr const char* kDeleteHead = "DELETE FROM publish WHERE ID = (SELECT MIN(ID) FROM publish);";
constexpr const char* kCount = "SELECT COUNT(ID) FROM publish;";

bool corrupt_code(int code) {
  int primary = code & 0xff;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// The message of a failed call, else the library's text for its code.
std::string call_error(sqlite3* db, int code) {
  const char* msg = db ? sqlite3_errmsg(db) : nullptr;
  if (msg && *msg) return msg;
  return sqlite3_errstr(code);
}

// Runs `sql` and gives the error text and code of a failure.
int exec(sqlite3* db, const char* sql, std::string* error) {
  char* msg = nullptr;
  int rc = sqlite3_exec(db, sql, nullptr, nullptr, &msg);
  if (rc != SQLITE_OK) *error = msg ? msg : sqlite3_errstr(rc);
  sqlite3_free(msg);
  return rc;
}

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  int prepare_result() const { return rc_; }
  sqlite3_stmt* get() { return stmt_; }
  std::string column_text(int i) {
    const unsigned char* t = sqlite3_column_text(stmt_, i);
    return t ? std::string(reinterpret_cast<const char*>(t), sqlite3_column_bytes(stmt_, i)) : "";
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = SQLITE_OK;
};

// Why the "publish" table is not the cache's own (its columns are not ID, an
// integer primary key, MSGID, QUEUE and MESSAGE, in this order), or nothing.
// Pushes to another table would fail for ever.
std::optional<std::string> table_shape_error(sqlite3* db) {
  Statement info(db, "PRAGMA table_info(publish);");
  if (info.prepare_result() != SQLITE_OK)
    return "table_info error: " + call_error(db, info.prepare_result());
  static const char* const kColumns[] = {"ID", "MSGID", "QUEUE", "MESSAGE"};
  std::string columns;
  bool same = true;
  size_t n = 0;
  int rc;
  while ((rc = sqlite3_step(info.get())) == SQLITE_ROW) {
    std::string name = info.column_text(1);
    columns += (n ? "," : "") + name;
    if (n >= 4 || sqlite3_stricmp(name.c_str(), kColumns[n]) != 0) same = false;
    if (n == 0 && (sqlite3_stricmp(info.column_text(2).c_str(), "INTEGER") != 0 ||
                   sqlite3_column_int(info.get(), 5) != 1))
      same = false;
    ++n;
  }
  if (rc != SQLITE_DONE) return "table_info error: " + call_error(db, rc);
  if (same && n == 4) return std::nullopt;
  return "the publish table has other columns: " + columns;
}

}  // namespace

AmqpCacheSQL::~AmqpCacheSQL() { close_db(); }

void AmqpCacheSQL::close_db() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
  usable_ = false;
}

std::string AmqpCacheSQL::not_usable_text() const {
  return "publish cache '" + db_path() + "' is not usable";
}

std::optional<std::string> AmqpCacheSQL::check_db() {
  close_db();
  int rc = sqlite3_open(db_path().c_str(), &db_);
  if (rc != SQLITE_OK) {
    std::string text = "sqlite3_open error: " + call_error(db_, rc);
    close_db();
    return text;
  }
  // A busy database (another process writing) is waited for a moment rather
  // than taken for a failure.
  sqlite3_busy_timeout(db_, 2000);
  std::string error;
  // A write-ahead log: one flush to disk per push instead of three, with the
  // same guarantee that a finished push survives a crash. A pop is not
  // flushed (see delete_head()).
  exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", &error);
  if (exec(db_, kCreateTable, &error) != SQLITE_OK) {
    close_db();
    return "CREATE TABLE error: " + error;
  }
  if (auto shape = table_shape_error(db_)) {
    close_db();
    return *shape;
  }
  Statement check(db_, "PRAGMA quick_check(1);");
  if (check.prepare_result() != SQLITE_OK) {
    std::string text = "quick_check error: " + call_error(db_, check.prepare_result());
    close_db();
    return text;
  }
  rc = sqlite3_step(check.get());
  if (rc != SQLITE_ROW) {
    std::string text = "quick_check error: " + call_error(db_, rc);
    close_db();
    return text;
  }
  std::string result = check.column_text(0);
  if (result != "ok") {
    close_db();
    return "quick_check: " + result;
  }
  usable_ = true;
  return std::nullopt;
}

std::string AmqpCacheSQL::recreate(const std::string& cause) {
  close_db();
  struct stat st {};
  bool have_size = ::stat(db_path().c_str(), &st) == 0;
  if (::unlink(db_path().c_str()) != 0 && errno != ENOENT)
    return cause + "; '" + db_path() + "' cannot be removed: " + std::strerror(errno);
  // A journal left beside the removed database would be applied to the new one.
  ::unlink((db_path() + "-journal").c_str());
  ::unlink((db_path() + "-wal").c_str());
  ::unlink((db_path() + "-shm").c_str());
  if (auto failed = check_db()) return cause + "; re-creation failed too: " + *failed;
  std::string text = cause + "; publish cache '" + db_path() + "' was re-created";
  if (have_size) text += ", " + std::to_string(st.st_size) + " B of queued publications are lost";
  return text;
}

std::optional<std::string> AmqpCacheSQL::open(const std::string& path) {
  SpinGuard guard(lock_);
  path_ = path;
  in_flight_ = false;
  error_.clear();
  auto failed = check_db();
  if (!failed) return std::nullopt;
  return recreate(*failed);
}

int AmqpCacheSQL::insert(const std::string& msgid, const std::string& queue,
                         const std::string& base64, std::string* error) {
  Statement insert(db_, kInsert);
  int rc = insert.prepare_result();
  if (rc == SQLITE_OK) {
    sqlite3_bind_text(insert.get(), 1, msgid.data(), static_cast<int>(msgid.size()), SQLITE_STATIC);
    sqlite3_bind_text(insert.get(), 2, queue.data(), static_cast<int>(queue.size()), SQLITE_STATIC);
    sqlite3_bind_text(insert.get(), 3, base64.data(), static_cast<int>(base64.size()),
                      SQLITE_STATIC);
    rc = sqlite3_step(insert.get());
    if (rc == SQLITE_DONE) return SQLITE_OK;
  }
  *error = call_error(db_, rc);
  return rc;
}

std::optional<std::string> AmqpCacheSQL::push(const std::string& msgid, const std::string& message,
                                              const std::string& queue) {
  std::string base64 = base64_encode(message);
  SpinGuard guard(lock_);
  if (!usable_) return not_usable_text();
  std::string error;
  int rc = insert(msgid, queue, base64, &error);
  if (rc == SQLITE_OK) return std::nullopt;
  if (!corrupt_code(rc)) return error;
  std::string recreated = recreate(error);
  if (!usable_) return recreated;
  if (insert(msgid, queue, base64, &error) == SQLITE_OK) return recreated + "; the message is saved";
  return recreated + "; the message is lost: " + error;
}

bool AmqpCacheSQL::delete_head(std::string* error, int* code) {
  // The removal of a sent entry need not survive a power loss: losing it
  // sends the entry once more, never loses one. It reaches the disk with the
  // next push's flush (the log is written in order); a killed process loses
  // nothing of it.
  std::string ignored;
  exec(db_, "PRAGMA synchronous=NORMAL;", &ignored);
  *code = exec(db_, kDeleteHead, error);
  exec(db_, "PRAGMA synchronous=FULL;", &ignored);
  return *code == SQLITE_OK;
}

PublishHead AmqpCacheSQL::head() {
  SpinGuard guard(lock_);
  if (in_flight_) {
    PublishHead busy;
    busy.busy = true;
    return busy;
  }
  if (!usable_) {
    error_ = not_usable_text();
    return {};
  }
  // A record that cannot be used is removed, noted, and the next one taken.
  for (;;) {
    Statement select(db_, kSelectHead);
    int rc = select.prepare_result();
    if (rc == SQLITE_OK) rc = sqlite3_step(select.get());
    if (rc == SQLITE_DONE) return {};
    if (rc != SQLITE_ROW) {
      error_ = "cannot read the head of publish cache: " + call_error(db_, rc);
      return {};
    }
    // The type before any reading converts the value.
    const int type = sqlite3_column_type(select.get(), 2);
    PublishHead head;
    head.msgid = select.column_text(0);
    head.queue = select.column_text(1);
    std::string bad;
    try {
      head.message = base64_decode(select.column_text(2));
    } catch (const std::exception&) {
      bad = "the head record of publish cache is not valid base64";
    }
    // The cache stores every message as base64 text (an empty message as
    // ""): a row without one, or with a number or a blob for it, is damaged.
    if (type == SQLITE_NULL)
      bad = "the head record of publish cache has no message";
    else if (type == SQLITE_INTEGER || type == SQLITE_FLOAT)
      bad = "the head record of publish cache has a number as its message";
    else if (type == SQLITE_BLOB)
      bad = "the head record of publish cache has a blob as its message";
    if (bad.empty() && (head.msgid.empty() || head.queue.empty()))
      bad = "the head record of publish cache has no message id or queue";
    if (bad.empty()) {
      in_flight_ = true;
      return head;
    }
    std::string del_error;
    int code = 0;
    if (!delete_head(&del_error, &code)) {
      error_ = bad + "; it cannot be removed: " + del_error;
      return {};
    }
    error_ = bad + " (msgid '" + head.msgid + "'); it is removed";
  }
}

uint64_t AmqpCacheSQL::count_rows() {
  Statement count(db_, kCount);
  if (count.prepare_result() != SQLITE_OK || sqlite3_step(count.get()) != SQLITE_ROW) return 0;
  if (sqlite3_column_type(count.get(), 0) == SQLITE_NULL) return 0;
  return static_cast<uint64_t>(sqlite3_column_int64(count.get(), 0));
}

uint64_t AmqpCacheSQL::pop() {
  SpinGuard guard(lock_);
  in_flight_ = false;
  if (!usable_) {
    error_ = not_usable_text();
    return 0;
  }
  std::string error;
  int code = 0;
  if (!delete_head(&error, &code)) {
    std::string text = "cannot drop the head of publish cache: " + error;
    error_ = corrupt_code(code) ? recreate(text) : text;
    return 0;
  }
  return count_rows();
}

void AmqpCacheSQL::release_head() {
  SpinGuard guard(lock_);
  in_flight_ = false;
}

bool AmqpCacheSQL::usable() { return usable_; }

std::optional<std::string> AmqpCacheSQL::take_error() {
  SpinGuard guard(lock_);
  if (error_.empty()) return std::nullopt;
  std::string e = std::move(error_);
  error_.clear();
  return e;
}
