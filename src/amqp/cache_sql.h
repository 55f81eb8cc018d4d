// AmqpCacheSQL: the publish cache in an SQLite database (path + ".db"), table
// "publish" with ID (insertion order), MSGID, QUEUE and MESSAGE (base64).
//
// A database that fails its check on open (not a database, corrupt, failed
// quick_check, a "publish" table with other columns) is removed and created
// again; the text then says how many bytes of queued messages were lost. A
// push or pop that meets a corrupt database does the same. A head record that
// cannot be decoded, has no message id, queue or message (NULL), or whose
// message is a number, is removed (and reported through
// take_error) so that it is never sent and cannot block the entries behind it.
#pragma once

#include <sqlite3.h>

#include <string>

#include "amqp/publish_cache.h"
#include "amqp/spin_lock.h"

class AmqpCacheSQL : public AmqpPublishCache {
 public:
  AmqpCacheSQL() = default;
  ~AmqpCacheSQL() override;
  AmqpCacheSQL(const AmqpCacheSQL&) = delete;
  AmqpCacheSQL& operator=(const AmqpCacheSQL&) = delete;

  std::optional<std::string> open(const std::string& path) override;
  std::optional<std::string> push(const std::string& msgid, const std::string& message,
                                  const std::string& queue) override;
  PublishHead head() override;
  uint64_t pop() override;
  void release_head() override;
  bool usable() override;
  std::optional<std::string> take_error() override;

  std::string db_path() const { return path_ + ".db"; }

 private:
  void close_db();
  std::optional<std::string> check_db();
  std::string recreate(const std::string& cause);
  int insert(const std::string& msgid, const std::string& queue, const std::string& base64,
             std::string* error);
  bool delete_head(std::string* error, int* code);
  uint64_t count_rows();
  std::string not_usable_text() const;

  sqlite3* db_ = nullptr;
  std::string path_;
  bool usable_ = false;
  std::string error_;
  SpinLock lock_;
  bool in_flight_ = false;
};
