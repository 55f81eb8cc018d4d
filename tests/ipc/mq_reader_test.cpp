#include "ipc/mq_reader.h"

#include <gtest/gtest.h>

#include "ipc_fixture.h"
#include "tests/support/eventually.h"

namespace {

using test_support::eventually;

TEST(MqReader, DeliversWhatWasLeftAndWhatArrives) {
  IpcSandbox sandbox;
  {
    PosixMq early;
    ASSERT_TRUE(early.open_writer(PosixMq::kDaemonQueue, MqAttributes{10, 256}));
    for (const char* text : {"left-1", "left-2", "left-3"}) ASSERT_EQ(early.send(text), "");
  }
  PosixMq queue;
  ASSERT_TRUE(queue.open_reader(PosixMq::kDaemonQueue, MqAttributes{10, 256}));
  EvLoop loop;
  std::vector<std::string> got;
  MqReader reader(loop.get(), queue, [&](std::string m) { got.push_back(std::move(m)); });
  ASSERT_TRUE(reader.start());
  // Runs the loop without blocking until `count` messages came.
  auto received = [&](size_t count) {
    return eventually([&] {
      ev_run(loop.get(), EVRUN_NOWAIT);
      return got.size() >= count;
    }, std::chrono::seconds(5));
  };
  ASSERT_TRUE(received(3));
  EXPECT_EQ(got, (std::vector<std::string>{"left-1", "left-2", "left-3"}));

  ChildProcess child([] {
    PosixMq writer;
    if (!writer.open_writer(PosixMq::kDaemonQueue)) return 1;
    for (int i = 0; i < 8; ++i)
      if (!writer.send("new-" + std::to_string(i)).empty()) return 2;
    return 0;
  });
  ASSERT_TRUE(received(11));
  EXPECT_EQ(child.wait(), 0);
  ASSERT_EQ(got.size(), 11u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(got[3 + i], "new-" + std::to_string(i));
  EXPECT_EQ(queue.pending(), 0);
  EXPECT_TRUE(reader.active());
  reader.stop();
  EXPECT_FALSE(reader.active());
}

TEST(MqReader, RefusesAClosedQueue) {
  PosixMq queue;
  EvLoop loop;
  MqReader reader(loop.get(), queue, [](std::string) {});
  EXPECT_FALSE(reader.start());
  EXPECT_FALSE(reader.active());
}

}  // namespace
