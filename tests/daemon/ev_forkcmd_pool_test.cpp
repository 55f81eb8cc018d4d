// Pool reports reach the AMQP daemon's queue as "pool_control" records.
#include "daemon/ev_forkcmd.h"

#include <ev.h>

#include <gtest/gtest.h>

#include "ipc/mq_request.h"
#include "ipc/mq_vm_message.h"
#include "ipc/posix_mq.h"
#include "tests/ipc/ipc_fixture.h"

namespace {

TEST(EvForkCmdPool, PoolReportsArePassedOnAsPoolControl) {
  IpcSandbox sandbox;
  PosixMq amqp_queue;
  ASSERT_TRUE(amqp_queue.open_reader(PosixMq::kAmqpQueue, {4, 4096})) << amqp_queue.error();

  struct ev_loop* loop = ev_loop_new(EVFLAG_AUTO);
  {
    EvForkCmd cmd(loop, [] {});
    for (const char* word : {"start", "stop", "suspend", "resume"}) {
      mq_vm_message record = make_pool_status_message("z05", word, -1);
      cmd.process_mq_message(record, mq_vm_message_text(record));
      std::optional<std::string> sent = amqp_queue.receive();
      ASSERT_TRUE(sent) << word;
      std::string error;
      std::optional<mq_request> request = parse_mq_request(*sent, &error);
      ASSERT_TRUE(request) << error;
      EXPECT_EQ(request->corrid, kPoolControlCorrid);
      EXPECT_EQ(request->reply_queue, "z05");
      EXPECT_EQ(request->message, word);
    }

    // The AMQP daemon's own consumer reports, an unknown pool command and a
    // pool name that is not a plain name go nowhere.
    for (const auto& [pool, word] : {std::pair<std::string, std::string>{"z05", "consume"},
                                     {"z05", "explode"},
                                     {"../z05", "start"}}) {
      mq_vm_message record = make_pool_status_message(pool, word, -1);
      cmd.process_mq_message(record, mq_vm_message_text(record));
      EXPECT_FALSE(amqp_queue.receive()) << pool << " " << word;
    }
  }
  ev_loop_destroy(loop);
}

}  // namespace
