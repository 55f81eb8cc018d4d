#include "ipc/posix_mq.h"

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include "ipc/mq_limits.h"
#include "ipc/mq_send.h"
#include "ipc_fixture.h"

namespace {

const MqAttributes kSmall{10, 512};

TEST(PosixMq, RecordsCrossProcessesInOrder) {
  IpcSandbox sandbox;
  PosixMq reader;
  ASSERT_TRUE(reader.open_reader(PosixMq::kDaemonQueue, kSmall)) << reader.error();
  EXPECT_EQ(reader.message_size(), 512);
  EXPECT_EQ(reader.max_messages(), 10);

  ChildProcess child([] {
    PosixMq writer;
    if (!writer.open_writer(PosixMq::kDaemonQueue)) return 1;
    for (const char* text : {"one", "two", "three"})
      if (!writer.send(text).empty()) return 2;
    return 0;
  });
  ASSERT_EQ(child.wait(), 0);

  std::vector<std::string> got;
  EXPECT_EQ(reader.drain([&](std::string m) { got.push_back(std::move(m)); }), 3u);
  EXPECT_EQ(got, (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_FALSE(reader.receive());
  EXPECT_EQ(reader.error(), "");
}

TEST(PosixMq, FullQueueAndOversizedRecordsFailWithoutLoss) {
  IpcSandbox sandbox;
  const std::string q = sandbox.queue("/ipc-test-full.mq");
  PosixMq reader, writer;
  ASSERT_TRUE(reader.open_reader(q, MqAttributes{2, 256}) && writer.open_writer(q));
  // A record longer than a message is refused, not cut.
  std::string error = writer.send(std::string(257, 'y'));
  EXPECT_NE(error.find("257 bytes exceeds"), std::string::npos) << error;
  EXPECT_NE(error.find("256"), std::string::npos) << error;
  EXPECT_EQ(writer.send(std::string(256, 'a'), 20), "");
  EXPECT_EQ(writer.send("b", 20), "");
  EXPECT_EQ(writer.pending(), 2);
  EXPECT_EQ(writer.send("c", 20), std::strerror(ETIMEDOUT));
  EXPECT_EQ(mq_send_text(q, "d", false, 0), std::strerror(ETIMEDOUT));
  // Nothing was lost or reordered by the failed sends.
  EXPECT_EQ(reader.receive(), std::string(256, 'a'));
  EXPECT_EQ(writer.send("e", 20), "");
  EXPECT_EQ(reader.receive(), "b");
  EXPECT_EQ(reader.receive(), "e");
  EXPECT_FALSE(reader.receive());
}

TEST(PosixMq, MessagesOutliveTheirReader) {
  IpcSandbox sandbox;
  {
    PosixMq writer;
    ASSERT_TRUE(writer.open_writer(PosixMq::kAmqpQueue, kSmall));
    EXPECT_EQ(writer.send("left-1"), "");
    EXPECT_EQ(writer.send("left-2"), "");
  }
  PosixMq reader;
  // The queue exists already: other attributes asked for are not applied and
  // the waiting messages stay.
  ASSERT_TRUE(reader.open_reader(PosixMq::kAmqpQueue, MqAttributes{3, 1024}));
  EXPECT_EQ(reader.message_size(), 512);
  EXPECT_EQ(reader.pending(), 2);
  EXPECT_EQ(reader.receive(), "left-1");
  reader.close();
  ASSERT_TRUE(reader.open_reader(PosixMq::kAmqpQueue));
  EXPECT_EQ(reader.receive(), "left-2");
}

TEST(PosixMq, OpenFailuresSayWhy) {
  IpcSandbox sandbox;
  PosixMq writer;
  EXPECT_FALSE(writer.open_writer(PosixMq::kDaemonQueue));
  EXPECT_NE(writer.error().find("does not exist"), std::string::npos) << writer.error();
  EXPECT_EQ(writer.send("x"), "MQ not opened");
  EXPECT_EQ(writer.pending(), -1);
  EXPECT_EQ(writer.descriptor(), -1);

  PosixMq reader;
  // Far beyond any host's per-message limit.
  EXPECT_FALSE(reader.open_reader(sandbox.queue("/ipc-test-huge.mq"), MqAttributes{1, 1L << 30}));
  EXPECT_NE(reader.error().find("bytes"), std::string::npos) << reader.error();
}

TEST(MqLimits, BothQueuesFitTheBudget) {
  constexpr int64_t kBudget = 819200;
  struct Case {
    int64_t kb, budget, message_size, max_messages;
  };
  for (const Case& c : {Case{128, kBudget, 131072, 3}, {4, kBudget, 4096, 10},
                        {0, kBudget, 131072, 3}, {-5, kBudget, 131072, 3},  // the default size
                        {128, 0, 131072, 10},                               // no budget
                        {1000, kBudget, kBudget / 2 - kMqMessageOverhead, 1}}) {  // cut to fit
    MqAttributes a = mq_attributes_for(c.kb, c.budget);
    EXPECT_EQ(a.message_size, c.message_size) << c.kb << " KB, budget " << c.budget;
    EXPECT_EQ(a.max_messages, c.max_messages) << c.kb << " KB, budget " << c.budget;
  }
  for (int64_t kb : {1, 8, 16, 64, 100, 200, 390, 399, 400, 100000}) {
    MqAttributes a = mq_attributes_for(kb, kBudget);
    EXPECT_GE(a.max_messages, 1) << kb;
    EXPECT_LE(a.max_messages, 10) << kb;
    EXPECT_LE(2 * a.max_messages * (a.message_size + kMqMessageOverhead), kBudget) << kb;
  }
}

}  // namespace
