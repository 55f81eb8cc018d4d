// AmqpCacheFile: the publish cache as a text file (path + ".publish"), one
// entry per line: msgid "|" queue "|" base64 message. The first well-formed
// line is the head. The file is rewritten through ".tmp" and a rename, so a
// crash leaves either the old or the new contents. A head line whose message
// is not valid base64, or that has no msgid or queue, is dropped (head()
// reports an error instead when the file cannot be rewritten). A push whose
// msgid or queue holds "|", a line break or NUL is refused.
#pragma once

#include <string>

#include "amqp/publish_cache.h"
#include "amqp/spin_lock.h"

class AmqpCacheFile : public AmqpPublishCache {
 public:
  std::optional<std::string> open(const std::string& path) override;
  std::optional<std::string> push(const std::string& msgid, const std::string& message,
                                  const std::string& queue) override;
  PublishHead head() override;
  uint64_t pop() override;
  void release_head() override;
  bool usable() override;
  std::optional<std::string> take_error() override;

  const std::string& file_path() const { return path_; }

 private:
  // Sets the count of entries behind the head; false when the file could not
  // be rewritten (the head is still there).
  bool drop_first_line(uint64_t* left);

  std::string path_;
  std::string error_;
  SpinLock lock_;
  bool in_flight_ = false;
};
