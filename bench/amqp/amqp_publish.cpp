// Replies per second through the AMQP daemon's whole path (records on its
// queue, the publish cache, one broker transaction per message) with the
// SQLite and the file cache, beside a plain loop of transactional publishes
// of the same messages with librabbitmq alone; then the same path with the
// broker stopped for a while in the middle, and the time the backlog takes
// to drain once it is back. Prints a table.
//
//   amqp_publish [--port P] [--count N] [--size BYTES] [--outage SECONDS]
// Without --port a private broker is started (tests/amqp/broker.sh).
#include <cstring>
#include <iostream>
#include <string>

#include <fmt/format.h>

#include "bench/amqp/harness.h"

using namespace amqp_bench;

namespace {

std::string message(int i, size_t size) {
  std::string pad(size > 80 ? size - 80 : 0, 'x');
  return fmt::format(R"({{"id":"b-{}","jsonrpc":"2.0","result":{{"code":1,"data":"{}"}}}})", i, pad);
}

bool wait_count(int port, const std::string& queue, long want, double limit) {
  auto t = Clock::now();
  while (count_or(port, queue, -1) < want) {
    if (seconds_since(t) > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void purge(int port, const std::string& queue) {
  PlainClient c(port);
  c.count(queue);
  c.purge(queue);
}

// Seconds for `count` replies through the AMQP daemon, from the first record
// sent to the last message in the broker's queue.
double through_daemon(int port, const Root& root, int kind, int count, size_t size) {
  purge(port, root.publish_queue());
  AmqpDaemonChild daemon(kind);
  send_record("warm-up", root.publish_queue(), message(0, size));
  if (!wait_count(port, root.publish_queue(), 1, 30)) throw std::runtime_error("no connection");
  purge(port, root.publish_queue());
  auto t = Clock::now();
  for (int i = 1; i <= count; ++i) send_record("b-" + std::to_string(i), root.publish_queue(), message(i, size));
  if (!wait_count(port, root.publish_queue(), count, 600)) throw std::runtime_error("replies missing");
  return seconds_since(t);
}

double plain_loop(int port, const std::string& queue, int count, size_t size) {
  purge(port, queue);
  PlainClient c(port);
  amqp_tx_select(c.get(), 1);
  auto t = Clock::now();
  for (int i = 1; i <= count; ++i) {
    std::string corrid = "b-" + std::to_string(i);
    std::string body = message(i, size);
    amqp_basic_properties_t p{};
    p._flags = AMQP_BASIC_CONTENT_TYPE_FLAG | AMQP_BASIC_CORRELATION_ID_FLAG | AMQP_BASIC_DELIVERY_MODE_FLAG;
    p.content_type = amqp_cstring_bytes("application/json");
    p.correlation_id = amqp_cstring_bytes(corrid.c_str());
    p.delivery_mode = 2;
    amqp_basic_publish(c.get(), 1, amqp_cstring_bytes(""), amqp_cstring_bytes(queue.c_str()), 1, 0, &p,
                       amqp_cstring_bytes(body.c_str()));
    amqp_tx_commit(c.get(), 1);
  }
  double s = seconds_since(t);
  c.purge(queue);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 0, count = 2000;
  size_t size = 200;
  double outage = 10;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--port") port = std::stoi(argv[i + 1]);
    else if (a == "--count") count = std::stoi(argv[i + 1]);
    else if (a == "--size") size = std::stoul(argv[i + 1]);
    else if (a == "--outage") outage = std::stod(argv[i + 1]);
  }
  init_logger(LogTarget::terminal);
  set_log_level("warn");
  try {
    Broker broker(port);
    Root root(broker.port(), fmt::format("bench.{}", ::getpid()));
    const std::string q = root.publish_queue();
    double sql = through_daemon(broker.port(), root, 1, count, size);
    double file = through_daemon(broker.port(), root, 0, count, size);
    double plain = plain_loop(broker.port(), q, count, size);

    fmt::print("\nAMQP publish path, {} replies of {} B, broker on loopback\n\n", count, size);
    fmt::print("{:<44} {:>10} {:>12} {:>10}\n", "path", "seconds", "replies/s", "vs plain");
    auto row = [&](const char* name, double s) {
      fmt::print("{:<44} {:>10.2f} {:>12.0f} {:>9.2f}x\n", name, s, count / s, plain / s);
    };
    row("AMQP daemon, SQLite cache", sql);
    row("AMQP daemon, file cache", file);
    row("plain librabbitmq loop (tx per message)", plain);

    if (!broker.dir().empty()) {
      // The outage: half the replies, the broker gone, the other half into the
      // cache, the broker back after `outage` s; how long until all arrived.
      purge(broker.port(), q);
      AmqpDaemonChild daemon(1);
      send_record("warm-up", q, message(0, size));
      wait_count(broker.port(), q, 1, 30);
      purge(broker.port(), q);
      for (int i = 1; i <= count / 2; ++i) send_record("o-" + std::to_string(i), q, message(i, size));
      broker.control("pause");
      auto paused = Clock::now();
      for (int i = count / 2 + 1; i <= count; ++i) send_record("o-" + std::to_string(i), q, message(i, size));
      double queued = seconds_since(paused);
      std::this_thread::sleep_for(std::chrono::duration<double>(std::max(0.0, outage - queued)));
      broker.control("resume");
      auto back = Clock::now();
      bool all = wait_count(broker.port(), q, count, 600);
      double drain = seconds_since(back);
      fmt::print("\nBroker stopped for {:.0f} s in the middle (reconnect attempt every 0.5 s here, 5 s in "
                 "production):\n  {} of {} replies arrived; backlog drained {:.2f} s after the broker was "
                 "back\n",
                 seconds_since(paused) - drain, all ? count : count_or(broker.port(), q, 0), count, drain);
    }
    PlainClient(broker.port()).remove(q);
  } catch (const std::exception& e) {
    std::cerr << "amqp_publish: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
