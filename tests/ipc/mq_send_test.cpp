#include "ipc/mq_send.h"

#include <gtest/gtest.h>

#include "ipc/mq_request.h"
#include "ipc_fixture.h"

namespace {

TEST(MqSend, DaemonRecordsArriveParsed) {
  IpcSandbox sandbox;
  PosixMq queue;
  ASSERT_TRUE(queue.open_reader(PosixMq::kDaemonQueue));
  const mq_exit_info exit{std::nullopt, 9, "command", "vms-stop"};
  ASSERT_EQ(mq_send_confirm("11", 4321, ""), "");
  ASSERT_EQ(mq_send_vm_exit("12", 1, exit), "");
  ASSERT_EQ(mq_send_vm_command("13", "pause", "/var/run/ombrix-vm-cli-fifo.1.13", 30), "");
  ASSERT_EQ(mq_send_pool_status("z05", "stop", -1), "");
  ASSERT_EQ(mq_send_amqp_request(R"({"id":"1"})", "corr", "rq"), "");

  std::vector<mq_vm_message> got;
  queue.drain([&](std::string text) { got.push_back(parse_mq_vm_message(text)); });
  ASSERT_EQ(got.size(), 5u);
  using enum MqVmMessageKind;
  MqVmMessageKind kinds[] = {confirm, vm_exit, vm_command, pool_status, amqp_request};
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].kind, kinds[i]) << i;
  EXPECT_EQ(got[0].status, 4321);
  EXPECT_EQ(got[1].exit, exit);
  EXPECT_EQ(got[2].reply_queue, "/var/run/ombrix-vm-cli-fifo.1.13");
  EXPECT_EQ(got[3].pool, "z05");
  EXPECT_EQ(got[4].corrid, "corr");
}

TEST(MqSend, NoDaemonMeansMqNotOpened) {
  IpcSandbox sandbox;
  EXPECT_EQ(mq_send_confirm("1", -1, ""), "MQ not opened");
  EXPECT_EQ(mq_send_vm_command("1", "start", "", -1), "MQ not opened");
  // The daemon's queue is never made by a sender.
  PosixMq probe;
  EXPECT_FALSE(probe.open_writer(PosixMq::kDaemonQueue));
}

TEST(MqSend, AmqpRecordsWaitForTheirReader) {
  IpcSandbox sandbox;
  ASSERT_EQ(mq_send_to_amqp(kPoolControlCorrid, "z05", "start", ""), "");
  ASSERT_EQ(mq_send_to_amqp("c-2", "replies", R"({"jsonrpc":"2.0"})", "t"), "");
  PosixMq queue;
  ASSERT_TRUE(queue.open_reader(PosixMq::kAmqpQueue));
  std::vector<mq_request> got;
  queue.drain([&](std::string text) {
    if (auto r = parse_mq_request(text)) got.push_back(*r);
  });
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], (mq_request{"pool_control", "z05", "start", ""}));
  EXPECT_EQ(got[1], (mq_request{"c-2", "replies", R"({"jsonrpc":"2.0"})", "t"}));
}

}  // namespace
