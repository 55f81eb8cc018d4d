// AmqpPublishCache: the AMQP daemon's persistent first-in-first-out store of
// messages waiting to be published (replies, events, guest messages).
//
// Every message is pushed before any attempt to publish it; the resend step
// takes the oldest entry with head(), publishes it, and removes it with pop()
// (or gives it back with release_head() when it could not be sent). At most
// one entry is handed out at a time: while one is, head() answers busy.
// Message texts are stored base64-encoded. Failures come back as text; nothing
// is thrown.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct PublishHead {
  std::string msgid;
  std::string message;  // decoded
  std::string queue;
  bool busy = false;  // an entry is already handed out; the strings are empty
};

class AmqpPublishCache {
 public:
  virtual ~AmqpPublishCache() = default;

  // Opens (creating when missing) the store at `path`; the error text, or
  // nothing on success.
  virtual std::optional<std::string> open(const std::string& path) = 0;
  // Appends an entry; the error text, or nothing when it is stored.
  virtual std::optional<std::string> push(const std::string& msgid, const std::string& message,
                                          const std::string& queue) = 0;
  // The oldest entry, marked as handed out; empty strings when there is none.
  virtual PublishHead head() = 0;
  // Removes the oldest entry; the count of entries left.
  virtual uint64_t pop() = 0;
  // The handed-out entry stays first and may be taken again.
  virtual void release_head() = 0;
  virtual bool usable() = 0;
  // The last error of head() and pop(), moved out.
  virtual std::optional<std::string> take_error() = 0;
};

// kind 0: the text file variant; kind 1: the SQLite variant; else nothing.
std::unique_ptr<AmqpPublishCache> make_publish_cache(int kind);
