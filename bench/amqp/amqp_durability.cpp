// The durability run: N replies sent through the AMQP daemon while the broker
// is restarted several times and the AMQP daemon is killed with SIGKILL
// several times; afterwards the independent client (tests/amqp/peer.py)
// takes every message from the publish queue and the run reports how many of
// the N arrived, the duplicates and the losses. Exit status 0 when nothing was
// lost beyond the one record a SIGKILL may catch in transit (taken from the
// POSIX queue, not yet in the cache) per kill.
//
//   amqp_durability [--port P --broker-dir D] [--count N] [--restarts R]
//                   [--kills K] [--full-restart]
// Without --port a private broker is started. Broker restarts stop the broker
// application (pause/resume), or the whole node with --full-restart.
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <thread>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "bench/amqp/harness.h"

using namespace amqp_bench;

int main(int argc, char** argv) {
  int port = 0, count = 10000, restarts = 3, kills = 3;
  bool full = false;
  std::string broker_dir;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&] { return std::string(i + 1 < argc ? argv[++i] : ""); };
    if (a == "--port") port = std::stoi(next());
    else if (a == "--broker-dir") broker_dir = next();
    else if (a == "--count") count = std::stoi(next());
    else if (a == "--restarts") restarts = std::stoi(next());
    else if (a == "--kills") kills = std::stoi(next());
    else if (a == "--full-restart") full = true;
  }
  init_logger(LogTarget::terminal);
  set_log_level("error");
  try {
    std::unique_ptr<Broker> owned;
    if (port > 0)
      owned = std::make_unique<Broker>(port, broker_dir);
    else
      owned = std::make_unique<Broker>(0);
    Broker& broker = *owned;
    Root root(broker.port(), fmt::format("durability.{}", ::getpid()));
    const std::string q = root.publish_queue();
    { PlainClient(broker.port()).count(q); }

    auto daemon = std::make_unique<AmqpDaemonChild>(1);
    const int events = restarts + kills;
    int done_restarts = 0, done_kills = 0;
    std::thread broker_thread;
    auto t0 = Clock::now();
    for (int i = 1; i <= count; ++i) {
      // The events, spread over the run, alternating.
      if (events > 0 && i % std::max(1, count / (events + 1)) == 0 && done_restarts + done_kills < events) {
        bool restart = (done_restarts <= done_kills && done_restarts < restarts) || done_kills >= kills;
        if (restart) {
          if (broker_thread.joinable()) broker_thread.join();
          ++done_restarts;
          broker_thread = std::thread([&broker, full] {
            if (full) {
              broker.control("restart");
            } else {
              broker.control("pause");
              std::this_thread::sleep_for(std::chrono::seconds(2));
              broker.control("resume");
            }
          });
        } else {
          ++done_kills;
          daemon->kill(SIGKILL);
          daemon->start();
        }
      }
      send_record(fmt::format("d-{}", i), q, fmt::format(R"({{"id":"d-{}","result":{{"code":1}}}})", i));
    }
    if (broker_thread.joinable()) broker_thread.join();
    double sending = seconds_since(t0);
    // Until everything is in the broker's queue (or nothing moves for 60 s).
    long last = -1;
    auto moved = Clock::now();
    for (;;) {
      long n = count_or(broker.port(), q, last);
      if (n != last) moved = Clock::now();
      last = n;
      if (n >= count) {
        std::this_thread::sleep_for(std::chrono::seconds(1));  // duplicates still on their way
        break;
      }
      // A SIGKILL may cost the one record the daemon had taken from its
      // queue and not yet cached: so much may stay missing.
      if (n >= count - done_kills && seconds_since(moved) > 5) break;
      if (seconds_since(moved) > 60) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    double total = seconds_since(t0);
    daemon.reset();

    // The independent client takes everything.
    std::string cmd = fmt::format("/usr/bin/python3 {}/tests/amqp/peer.py {} get {} {} 300 3", OMBRIX_SOURCE_DIR,
                                  broker.port(), q, count * 2);
    FILE* p = ::popen(cmd.c_str(), "r");
    std::map<std::string, int> seen;
    long received = 0;
    char* line = nullptr;
    size_t cap = 0;
    while (::getline(&line, &cap, p) > 0) {
      auto j = nlohmann::json::parse(line, nullptr, false);
      if (j.is_discarded()) continue;
      ++received;
      ++seen[j.value("correlation_id", "")];
    }
    ::free(line);
    ::pclose(p);
    long duplicates = received - static_cast<long>(seen.size());
    long lost = 0;
    std::string missing;
    for (int i = 1; i <= count; ++i)
      if (!seen.count(fmt::format("d-{}", i))) {
        if (++lost <= 20) missing += fmt::format(" d-{}", i);
      }
    PlainClient(broker.port()).remove(q);
    fmt::print("durability: sent {} replies; broker restarts {} ({}), AMQP daemon SIGKILLs {}\n", count,
               done_restarts, full ? "whole node" : "application stop/start", done_kills);
    fmt::print("durability: received {} messages, {} distinct, duplicates {}, lost {}\n", received,
               seen.size(), duplicates, lost);
    if (lost) fmt::print("durability: lost{}{}\n", missing, lost > 20 ? " ..." : "");
    fmt::print("durability: sending took {:.1f} s, all in the broker after {:.1f} s\n", sending, total);
    // Each SIGKILL may catch the AMQP daemon between taking a record from its
    // POSIX queue and writing it to the cache: that record is gone with it.
    // Anything beyond that is a loss of the service.
    fmt::print("durability: {}\n", lost == 0 ? "no loss"
                                             : lost <= done_kills ? "losses within the records in transit at the kills"
                                                                  : "LOSS beyond the records in transit");
    return lost <= done_kills ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "amqp_durability: " << e.what() << "\n";
    return 2;
  }
}
