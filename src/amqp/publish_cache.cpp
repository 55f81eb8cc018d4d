#include "amqp/publish_cache.h"

#include "amqp/cache_file.h"
#include "amqp/cache_sql.h"

std::unique_ptr<AmqpPublishCache> make_publish_cache(int kind) {
  if (kind == 0) return std::make_unique<AmqpCacheFile>();
  if (kind == 1) return std::make_unique<AmqpCacheSQL>();
  return nullptr;
}
