// The pools whose queues the AMQP service consumes at connection time: the
// started pools, and the pools whose state could not be read (with why).
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

struct AmqpPoolListing {
  std::vector<std::string> pools;
  std::vector<std::pair<std::string, std::string>> errors;  // pool, reason
};

using AmqpPoolLister = std::function<AmqpPoolListing()>;
