// The cloud-init channel: request lines collected from the guest's bytes, and
// the channel thread serving a scripted guest over a real null-modem pair,
// reporting its progress on the AMQP daemon's queue.
#include "bhwrap/cloudinit/cloudinit_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "bhwrap/wrapper/bhwrap_guest_channels.h"
#include "bhwrap/cloudinit/metadata_frame.h"
#include "driver/config.h"
#include "ipc/mq_request.h"
#include "ipc/posix_mq.h"
#include "ipc/unique_fd.h"
#include "platform/null_modem.h"
#include "tests/ipc/ipc_fixture.h"
#include "tests/support/eventually.h"
#include "tests/support/require.h"
#include "tests/support/run_program.h"

namespace {

using nlohmann::json;
using test_support::eventually;
using test_support::require;

// ---- the line filter ------------------------------------------------------

std::vector<std::optional<std::string>> lines_of(CloudinitLineFilter& filter,
                                                 std::string_view bytes) {
  std::vector<std::optional<std::string>> lines;
  filter.feed(bytes, [&](std::optional<std::string> line) { lines.push_back(std::move(line)); });
  return lines;
}

using Lines = std::vector<std::optional<std::string>>;

TEST(CloudinitLineFilter, LinesEndAtLineFeedsAndDropCarriageReturns) {
  CloudinitLineFilter filter;
  EXPECT_EQ(lines_of(filter, "NEGOTIATE V2\r\nV2 1 2 3\n"), (Lines{"NEGOTIATE V2", "V2 1 2 3"}));
  // A line may come in pieces; an empty line is a line.
  EXPECT_EQ(lines_of(filter, "NEGO"), Lines{});
  EXPECT_EQ(lines_of(filter, "TIATE V2\r"), Lines{});
  EXPECT_EQ(lines_of(filter, "\n\n"), (Lines{"NEGOTIATE V2", ""}));
}

TEST(CloudinitLineFilter, EscapeSequencesAreDroppedWithWhatCameBefore) {
  CloudinitLineFilter filter;
  // Clear screen, then the request.
  EXPECT_EQ(lines_of(filter, "junk\x1b[2JNEGOTIATE V2\n"), Lines{"NEGOTIATE V2"});
  // ESC ( B ends at the B.
  EXPECT_EQ(lines_of(filter, "\x1b(BKEYS\n"), Lines{"KEYS"});
  // A line feed inside a sequence is part of it, not the end of a line.
  EXPECT_EQ(lines_of(filter, "\x1b[1;\n"), Lines{});
  EXPECT_EQ(filter.escape_state(), 2);
  // Bytes from 0x80 on do not end a sequence (they count as below "A").
  EXPECT_EQ(lines_of(filter, "\xc3\xa9"), Lines{});
  EXPECT_EQ(filter.escape_state(), 2);
  EXPECT_EQ(lines_of(filter, "mGET\n"), Lines{"GET"});
  EXPECT_EQ(filter.escape_state(), 0);
  // ESC followed directly by a letter: a two-byte sequence.
  EXPECT_EQ(lines_of(filter, "\x1b" "cok\n"), Lines{"ok"});
}

TEST(CloudinitLineFilter, OverlongLinesAreReportedNotKept) {
  CloudinitLineFilter filter(64);
  EXPECT_EQ(lines_of(filter, std::string(63, 'a') + "\n"), Lines{std::string(63, 'a')});
  std::string huge(100000, 'b');
  EXPECT_EQ(lines_of(filter, huge), Lines{});
  EXPECT_LE(filter.pending().size(), 64u);
  EXPECT_EQ(lines_of(filter, "more\nnext\n"), (Lines{std::nullopt, "next"}));
  // A sequence that never ends stays bounded too, and an ESC starts afresh.
  EXPECT_EQ(lines_of(filter, "\x1b[" + std::string(100000, '1')), Lines{});
  EXPECT_LE(filter.pending().size(), 64u);
  EXPECT_EQ(lines_of(filter, "Xok\n"), Lines{"ok"});
  EXPECT_EQ(lines_of(filter, huge + "\x1b" "Aok\n"), Lines{"ok"});
}

// ---- the channel thread ---------------------------------------------------

json sample_record(size_t run_cmds = 0) {
  json record = json::parse(R"({
    "id": "vm1", "root_dataset_name": "z05/vm1",
    "guest": {"hostname": "h1.example", "resolver": {"name_server": ["10.0.0.1"]}}
  })");
  for (size_t i = 0; i < run_cmds; ++i)
    record["guest"]["run_cmds"].push_back("echo line " + std::to_string(i) + " of a long script");
  return record;
}

Cloudinit sample_cloudinit(size_t run_cmds = 0) {
  Cloudinit ci("vm1");
  ci.from_item(sample_record(run_cmds).dump());
  return ci;
}

// A host root with the AMQP daemon's queue read by the test, the VM's
// cloud-init pair and the guest's side A open; the channel runs on its own
// thread until it ends by itself.
class CloudinitChannelTest : public ::testing::Test {
 protected:
  static constexpr const char* kSideA = "/dev/nmdmvm1ciA";
  static constexpr const char* kSideB = "/dev/nmdmvm1ciB";

  void SetUp() override {
    std::filesystem::create_directories(sandbox_.path("/dev"));
    saved_event_key_ = Config::instance().event_key;
    Config::instance().event_key = "vm.events";
    ASSERT_TRUE(amqp_queue_.open_reader(PosixMq::kAmqpQueue, {10, 4096})) << amqp_queue_.error();
    std::string error;
    pair_ = platform::NullModemPair::create(kSideA, kSideB, &error);
    ASSERT_TRUE(pair_) << error;
    guest_.reset(::open(sandbox_.path(kSideA).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(guest_) << std::strerror(errno);
  }

  void TearDown() override {
    if (thread_.joinable()) {
      if (eventually([&] { return finished_.load(); }, std::chrono::seconds(20)))
        thread_.join();
      else
        thread_.detach();  // reported by the test that waited for the end
    }
    Config::instance().event_key = saved_event_key_;
  }

  void start(Cloudinit ci, CloudinitChannelTimings timings, std::string device = kSideB) {
    thread_ = std::thread([this, ci = std::move(ci), timings, device]() mutable {
      cloudinit_thread(std::move(ci), "vm1", device, timings);
      finished_ = true;
    });
  }

  bool wait_for_end() {
    if (!eventually([&] { return finished_.load(); }, std::chrono::seconds(20))) return false;
    thread_.join();
    return true;
  }

  void send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(guest_.get(), bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      require(n < 0 && errno == EAGAIN, std::string("write: ") + std::strerror(errno));
      pollfd p{guest_.get(), POLLOUT, 0};
      require(::poll(&p, 1, 10000) == 1, "the channel stopped reading");
    }
  }

  // The next line from the channel, waiting at most `limit_ms` for it.
  std::optional<std::string> read_line(int limit_ms = 10000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    for (;;) {
      size_t lf = received_.find('\n');
      if (lf != std::string::npos) {
        std::string line = received_.substr(0, lf);
        received_.erase(0, lf + 1);
        return line;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd p{guest_.get(), POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char bytes[4096];
      ssize_t n = ::read(guest_.get(), bytes, sizeof bytes);
      if (n > 0) received_.append(bytes, static_cast<size_t>(n));
    }
  }

  // What the guest writes before the channel has opened its side is lost (no
  // one is listening yet), so the guest asks again until it is answered.
  void negotiate() {
    for (int attempt = 0; attempt < 200; ++attempt) {
      send("NEGOTIATE V2\r\n");
      if (std::optional<std::string> line = read_line(100)) {
        require(*line == "V2_OK", "negotiation answered with: " + *line);
        return;
      }
    }
    require(false, "the channel never answered");
  }

  // The next answer to a framed request (late answers to repeated
  // negotiations are passed over).
  std::string next_answer() {
    for (;;) {
      std::optional<std::string> line = read_line();
      if (!line) return "<nothing>";
      if (*line != "V2_OK") return *line;
    }
  }

  MetadataBody get(const std::string& key, const std::string& id) {
    send(MetadataFrame::compose(MetadataFrame::seal({id, "GET", key})) + "\n");
    std::string line = next_answer();
    std::optional<MetadataFrame> frame = MetadataFrame::parse(line);
    EXPECT_TRUE(frame && MetadataFrame::check(*frame)) << line.substr(0, 100);
    return frame ? frame->body : MetadataBody{};
  }

  // The progress texts sent so far, checking each record's form.
  std::vector<std::string> progress() {
    std::vector<std::string> texts;
    while (std::optional<std::string> text = amqp_queue_.receive()) {
      std::optional<mq_request> request = parse_mq_request(*text);
      EXPECT_TRUE(request) << *text;
      if (!request) continue;
      EXPECT_EQ(request->reply_queue, "vm.events");
      EXPECT_EQ(request->corrid.size(), 36u);
      EXPECT_EQ(request->timer, "");
      json event = json::parse(request->message);
      EXPECT_EQ(event["vm_id"], "vm1");
      texts.push_back(event["message"].get<std::string>());
    }
    return texts;
  }

  // Waits until the channel reports the end of its session; the texts seen.
  std::vector<std::string> progress_until_end() {
    std::vector<std::string> texts;
    eventually([&] {
      for (std::string& t : progress()) texts.push_back(std::move(t));
      return !texts.empty() && texts.back() == "CloudInit session end";
    });
    return texts;
  }

  IpcSandbox sandbox_;
  PosixMq amqp_queue_;
  std::optional<platform::NullModemPair> pair_;
  UniqueFd guest_;
  std::string received_;
  std::thread thread_;
  std::atomic<bool> finished_{false};
  std::string saved_event_key_;
};

TEST_F(CloudinitChannelTest, ServesAGuestSessionAndEndsAfterSilence) {
  Cloudinit ci = sample_cloudinit();
  start(ci, {.silence_s = 2.0});
  negotiate();

  EXPECT_EQ(get("sdc:hostname", "r1"), (MetadataBody{"r1", "SUCCESS", "h1.example"}));
  EXPECT_EQ(get("nosuchkey", "r2"), (MetadataBody{"r2", "NOTFOUND", ""}));

  // Two requests in one write are answered in order; the clear-screen sequence
  // and carriage returns do not disturb them.
  send("\x1b[2J" + MetadataFrame::compose(MetadataFrame::seal({"r3", "GET", "sdc:resolvers"})) +
       "\r\n" + MetadataFrame::compose(MetadataFrame::seal({"r4", "KEYS", ""})) + "\r\n");
  std::optional<MetadataFrame> first = MetadataFrame::parse(next_answer());
  std::optional<MetadataFrame> second = MetadataFrame::parse(next_answer());
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->body, (MetadataBody{"r3", "SUCCESS", R"(["10.0.0.1")" "]"}));
  EXPECT_EQ(second->body, (MetadataBody{"r4", "SUCCESS", "\n"}));

  // Garbage and a bad frame are answered, and the session goes on.
  send("\x01\x02garbage\xff\xfe\n");
  EXPECT_EQ(next_answer(), "invalid command");
  MetadataFrame bad = MetadataFrame::seal({"r5", "GET", "sdc:hostname"});
  bad.length = "999999";
  send(MetadataFrame::compose(bad) + "\n");
  EXPECT_EQ(next_answer(), "invalid command");

  EXPECT_EQ(get("sdc:routes", "r6"), (MetadataBody{"r6", "SUCCESS", "[]"}));

  // An incomplete line is dropped when the channel ends.
  send("V2 12 abc");
  ASSERT_TRUE(wait_for_end()) << "the silence did not end the session";

  std::vector<std::string> texts = progress();
  ASSERT_GE(texts.size(), 4u);
  EXPECT_EQ(texts.front(), "CloudInit session begin");
  EXPECT_EQ(texts.back(), "CloudInit session end");
  EXPECT_EQ(texts[texts.size() - 2], "CloudInit session last request");
  for (size_t i = 1; i + 2 < texts.size(); ++i)
    EXPECT_EQ(texts[i], "CloudInit session NEGOTIATE");
  EXPECT_EQ(read_line(0), std::nullopt);
}

TEST_F(CloudinitChannelTest, SilentGuestGetsOnlyTheEndMessage) {
  start(sample_cloudinit(), {.silence_s = 0.2});
  ASSERT_TRUE(wait_for_end());
  EXPECT_EQ(progress(), std::vector<std::string>{"CloudInit session end"});
}

TEST_F(CloudinitChannelTest, DeviceThatDoesNotOpenEndsAtOnceWithoutMessages) {
  start(sample_cloudinit(), {.silence_s = 60.0}, "/dev/nmdmnosuchciB");
  ASSERT_TRUE(wait_for_end());
  EXPECT_EQ(progress(), std::vector<std::string>{});
}

TEST_F(CloudinitChannelTest, DeviceHangUpEndsTheSession) {
  start(sample_cloudinit(), {.silence_s = 60.0});
  negotiate();
  pair_.reset();  // the VM's pair goes: side B hangs up
  ASSERT_TRUE(wait_for_end()) << "the channel kept running on a hung-up device";
  std::vector<std::string> texts = progress();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "CloudInit session end");
}

TEST_F(CloudinitChannelTest, DeviceThatFailsToReadEndsTheSession) {
  // A device that is always readable and whose reads fail: this process's
  // memory file, read at address 0 (not a terminal either, so its settings
  // are left alone).
  std::filesystem::create_symlink("/proc/self/mem", sandbox_.path("/dev/nmdmmemciB"));
  start(sample_cloudinit(), {.silence_s = 60.0}, "/dev/nmdmmemciB");
  ASSERT_TRUE(wait_for_end()) << "the channel kept running on a failing device";
  EXPECT_EQ(progress(), std::vector<std::string>{"CloudInit session end"});
}

TEST_F(CloudinitChannelTest, LargeAnswersArriveWhole) {
  Cloudinit ci = sample_cloudinit(3000);
  ASSERT_GT(ci.user_data().size(), 64u * 1024);
  std::string user_data = ci.user_data();
  start(std::move(ci), {.silence_s = 5.0});
  negotiate();
  EXPECT_EQ(get("cloud-init:user-data", "big"), (MetadataBody{"big", "SUCCESS", user_data}));
  // Overlong requests are refused, and the next one is served.
  send(std::string(100000, 'V') + "\n");
  EXPECT_EQ(next_answer(), "invalid command");
  EXPECT_EQ(get("hostname", "after"), (MetadataBody{"after", "SUCCESS", "h1.example"}));
  pair_.reset();
  EXPECT_TRUE(wait_for_end());
}

// A VM directory holding about 1 MB of user-data; the Cloudinit that loads it.
Cloudinit megabyte_user_data(const IpcSandbox& sandbox) {
  std::string user_data = "#cloud-config\nruncmd:\n";
  for (size_t i = 0; user_data.size() < 1024 * 1024; ++i)
    user_data += " - echo line " + std::to_string(i) + " of a long script\n";
  sandbox.write("/pools/z05/vm1/vm.json", sample_record().dump());
  sandbox.write("/pools/z05/vm1/guest.json", R"({"hostname": "h1"})");
  sandbox.write("/pools/z05/vm1/cloud-init/user-data", user_data);
  Cloudinit ci("vm1");
  EXPECT_TRUE(ci.load("/pools/z05/vm1"));
  return ci;
}

// A long answer is never cut for its length: a guest that reads slowly, but
// never pauses as long as the stall limit, gets all of it.
TEST_F(CloudinitChannelTest, MegabyteUserDataReachesASlowReaderWhole) {
  Cloudinit ci = megabyte_user_data(sandbox_);
  const std::string user_data = ci.user_data();
  start(std::move(ci), {.silence_s = 10.0, .write_stall_ms = 500});
  negotiate();
  send(MetadataFrame::compose(MetadataFrame::seal({"slow", "GET", "cloud-init:user-data"})) + "\n");
  // 4 KB at a time with a pause of 5 ms: the whole answer takes several
  // times the stall limit.
  std::string line = received_;
  for (;;) {
    while (line.starts_with("V2_OK\n")) line.erase(0, 6);  // late answers to repeated negotiations
    if (line.find('\n') != std::string::npos) break;
    pollfd p{guest_.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1) << "the answer stopped after " << line.size() << " bytes";
    char bytes[4096];
    ssize_t n = ::read(guest_.get(), bytes, sizeof bytes);
    if (n > 0) line.append(bytes, static_cast<size_t>(n));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(line.find('\n'), line.size() - 1);
  line.pop_back();
  std::optional<MetadataFrame> frame = MetadataFrame::parse(line);
  ASSERT_TRUE(frame && MetadataFrame::check(*frame));
  EXPECT_EQ(frame->body, (MetadataBody{"slow", "SUCCESS", user_data}));
  pair_.reset();
  EXPECT_TRUE(wait_for_end());
}

// A guest that stops reading holds the answer up only for the stall limit;
// the channel then goes on and ends after its silence.
TEST_F(CloudinitChannelTest, AnswerToAGuestThatStopsReadingIsGivenUp) {
  start(megabyte_user_data(sandbox_), {.silence_s = 0.2, .write_stall_ms = 200});
  negotiate();
  send(MetadataFrame::compose(MetadataFrame::seal({"stuck", "GET", "cloud-init:user-data"})) + "\n");
  ASSERT_TRUE(wait_for_end()) << "the channel kept waiting for a guest that reads nothing";
  std::vector<std::string> texts = progress();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "CloudInit session end");
}

// The wrapper's call site: a local VM is served what its directory holds, a
// remote one what its record generates; the thread runs detached and ends
// when the VM's pair goes.
TEST_F(CloudinitChannelTest, WrapperServesALocalVmFromItsDirectory) {
  sandbox_.write("/pools/z05/vm1/vm.json", sample_record().dump());
  sandbox_.write("/pools/z05/vm1/guest.json", R"({"hostname": "from-dir"})");
  sandbox_.write("/pools/z05/vm1/cloud-init/user-data", "#cloud-config\nruncmd: []\n");
  _command command;
  command.vm_id = "vm1";
  command.root_fs = "/pools/z05/vm1";
  command.item = sample_record().dump();  // not used for a local VM
  start_cloudinit_channel(command, kSideB);
  negotiate();
  EXPECT_EQ(get("hostname", "l1"), (MetadataBody{"l1", "SUCCESS", "from-dir"}));
  EXPECT_EQ(get("cloud-init:user-data", "l2"),
            (MetadataBody{"l2", "SUCCESS", "#cloud-config\nruncmd: []\n"}));
  pair_.reset();
  std::vector<std::string> texts = progress_until_end();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.front(), "CloudInit session begin");
  EXPECT_EQ(texts.back(), "CloudInit session end");
}

// Compressed user-data reaches the guest exactly as stored, so it can unpack
// it (a gzip stream ends with its length, here a zero byte, never a line feed).
TEST_F(CloudinitChannelTest, WrapperServesGzipUserDataByteForByte) {
  test_support::RunResult gzip = test_support::run_program(
      "/usr/bin/python3",
      {"-c", "import gzip, sys; sys.stdout.buffer.write(gzip.compress("
             "b'#cloud-config\\nruncmd:\\n' + b''.join(b' - echo %d\\n' % i for i in range(500)),"
             " mtime=0))"});
  ASSERT_EQ(gzip.status, 0);
  ASSERT_EQ(gzip.output.substr(0, 2), "\x1f\x8b");
  ASSERT_NE(gzip.output.back(), '\n');
  sandbox_.write("/pools/z05/vm1/vm.json", sample_record().dump());
  sandbox_.write("/pools/z05/vm1/guest.json", R"({"hostname": "from-dir"})");
  sandbox_.write("/pools/z05/vm1/cloud-init/user-data", gzip.output);
  _command command;
  command.vm_id = "vm1";
  command.root_fs = "/pools/z05/vm1";
  start_cloudinit_channel(command, kSideB);
  negotiate();
  EXPECT_EQ(get("cloud-init:user-data", "z1"), (MetadataBody{"z1", "SUCCESS", gzip.output}));
  pair_.reset();
  std::vector<std::string> texts = progress_until_end();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "CloudInit session end");
}

TEST_F(CloudinitChannelTest, WrapperServesARemoteVmFromItsRecord) {
  _command command;
  command.vm_id = "vm1";
  command.remote = true;
  command.root_fs = "/pools/nothing/here";
  command.item = sample_record().dump();
  start_cloudinit_channel(command, kSideB);
  negotiate();
  EXPECT_EQ(get("sdc:hostname", "r1"), (MetadataBody{"r1", "SUCCESS", "h1.example"}));
  pair_.reset();
  std::vector<std::string> texts = progress_until_end();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "CloudInit session end");
}

}  // namespace
