#include "ipc/mq_limits.h"

#include <gtest/gtest.h>

namespace {

TEST(MqLimits, BothQueuesFitTheBudget) {
  constexpr int64_t kBudget = 819200;
  MqAttributes a = mq_attributes_for(128, kBudget);
  EXPECT_EQ(a.message_size, 131072);
  EXPECT_EQ(a.max_messages, 3);

  a = mq_attributes_for(4, kBudget);
  EXPECT_EQ(a.message_size, 4096);
  EXPECT_EQ(a.max_messages, 10);

  for (int64_t kb : {1, 8, 16, 64, 100, 128, 200, 390, 399, 400, 1000, 100000}) {
    a = mq_attributes_for(kb, kBudget);
    EXPECT_GE(a.max_messages, 1) << kb;
    EXPECT_LE(a.max_messages, 10) << kb;
    EXPECT_LE(2 * a.max_messages * (a.message_size + kMqMessageOverhead), kBudget) << kb;
  }
}

TEST(MqLimits, DefaultsAndNoBudget) {
  EXPECT_EQ(mq_attributes_for(0, 819200).message_size, 131072);
  EXPECT_EQ(mq_attributes_for(-5, 819200).message_size, 131072);
  MqAttributes a = mq_attributes_for(128, 0);
  EXPECT_EQ(a.message_size, 131072);
  EXPECT_EQ(a.max_messages, 10);
}

TEST(MqLimits, OversizedConfigurationIsCutToFit) {
  MqAttributes a = mq_attributes_for(1000, 819200);
  EXPECT_EQ(a.max_messages, 1);
  EXPECT_EQ(a.message_size, 819200 / 2 - kMqMessageOverhead);
}

}  // namespace
