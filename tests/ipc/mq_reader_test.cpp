#include "ipc/mq_reader.h"

#include <gtest/gtest.h>

#include "ipc_fixture.h"

namespace {

// Runs `loop` until `done` says so (asked before each wait for events) or a
// safety timer of 5 s fires; returns false when the timer fired.
bool run_until(struct ev_loop* loop, const std::function<bool()>& done) {
  struct State {
    std::function<bool()> done;
    bool timed_out = false;
  } state{done};
  ev_timer guard;
  ev_timer_init(&guard, [](struct ev_loop* l, ev_timer* w, int) {
    static_cast<State*>(w->data)->timed_out = true;
    ev_break(l, EVBREAK_ALL);
  }, 5.0, 0.0);
  guard.data = &state;
  ev_timer_start(loop, &guard);
  ev_prepare prepare;
  ev_prepare_init(&prepare, [](struct ev_loop* l, ev_prepare* w, int) {
    if (static_cast<State*>(w->data)->done()) ev_break(l, EVBREAK_ALL);
  });
  prepare.data = &state;
  ev_prepare_start(loop, &prepare);
  ev_run(loop, 0);
  ev_prepare_stop(loop, &prepare);
  ev_timer_stop(loop, &guard);
  return !state.timed_out;
}

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
  ASSERT_TRUE(run_until(loop.get(), [&] { return got.size() >= 3; }));
  EXPECT_EQ(got, (std::vector<std::string>{"left-1", "left-2", "left-3"}));

  ChildProcess child([] {
    PosixMq writer;
    if (!writer.open_writer(PosixMq::kDaemonQueue)) return 1;
    for (int i = 0; i < 8; ++i)
      if (!writer.send("new-" + std::to_string(i)).empty()) return 2;
    return 0;
  });
  ASSERT_TRUE(run_until(loop.get(), [&] { return got.size() >= 11; }));
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
