// The guest metadata protocol: negotiation, GET and KEYS answered from the
// metadata document, and what happens to requests that are not right.
#include "bhwrap/cloudinit/metadata_protocol.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "bhwrap/cloudinit/cloudinit.h"
#include "bhwrap/cloudinit/metadata_frame.h"
#include "driver/base64.h"

namespace {

using nlohmann::json;

json protocol_record() {
  return json::parse(R"({
    "id": "vm1", "root_dataset_name": "z05/vm1",
    "guest": {
      "hostname": "h1.example", "kms_host": "",
      "resolver": {"name_server": ["10.0.0.1"], "search": "example"},
      "users": {"root": {"password": "pw", "ssh-authorized-keys": ["ssh-rsa AAA k1", "ssh-ed25519 BBB k2"]}}
    },
    "network_ports": [
      {"mac": ["02:00:00:00:00:01"], "slot": 5, "ipv4": [{"address": "10.0.0.5", "gateway": "10.0.0.1", "netmask": "255.255.255.0"}], "netmask": 24}
    ]
  })");
}

Cloudinit negotiated(const json& record = protocol_record()) {
  Cloudinit ci("vm1");
  ci.from_item(record.dump());
  auto [tag, response] = ci.handle_request("NEGOTIATE V2");
  EXPECT_EQ(tag, "NEGOTIATE V2");
  EXPECT_EQ(response, "V2_OK");
  return ci;
}

struct Answer {
  std::string tag;
  MetadataBody body;
};

// Sends one framed request and reads the framed answer back, checking that the
// answer's own fields describe its body.
Answer ask(Cloudinit& ci, const std::string& word, const std::string& argument,
           const std::string& request_id = "c0ffee") {
  std::string line = MetadataFrame::compose(MetadataFrame::seal({request_id, word, argument}));
  auto [tag, response] = ci.handle_request(line);
  std::optional<MetadataFrame> frame = MetadataFrame::parse(response);
  EXPECT_TRUE(frame) << response;
  if (!frame) return {tag, {}};
  EXPECT_TRUE(MetadataFrame::check(*frame)) << response;
  EXPECT_EQ(frame->crc.size(), 8u) << response;
  EXPECT_EQ(frame->body.request_id, request_id);
  return {tag, frame->body};
}

std::string value_of(Cloudinit& ci, const std::string& key) {
  Answer a = ask(ci, "GET", key);
  EXPECT_EQ(a.tag, key);
  EXPECT_EQ(a.body.word, "SUCCESS") << key;
  return a.body.argument;
}

TEST(MetadataProtocol, Negotiation) {
  Cloudinit ci("vm1");
  ci.from_item(protocol_record().dump());
  EXPECT_EQ(ci.handle_request("NEGOTIATE V2 please").second, "V2_OK");
  EXPECT_TRUE(ci.metadata().is_object());
  auto [tag, response] = ci.handle_request("NEGOTIATE V1");
  EXPECT_EQ(tag, "");
  EXPECT_EQ(response, "invalid command");

  // Nothing to serve without user data: FAILURE, and the document stays null.
  Cloudinit empty("vm2");
  EXPECT_EQ(empty.handle_request("NEGOTIATE V2"),
            (std::pair<std::string, std::string>{"NEGOTIATE V2", "FAILURE"}));
  EXPECT_TRUE(empty.metadata().is_null());
}

TEST(MetadataProtocol, GetResolvesNamesPrefixesAndPointers) {
  Cloudinit ci = negotiated();
  EXPECT_EQ(value_of(ci, "hostname"), "h1.example");
  EXPECT_EQ(value_of(ci, "sdc:hostname"), "h1.example");
  EXPECT_EQ(value_of(ci, "/hostname"), "h1.example");
  EXPECT_EQ(value_of(ci, "sdc:resolvers"), R"(["10.0.0.1"])");
  EXPECT_EQ(value_of(ci, "sdc:nics:0:mac"), "02:00:00:00:00:01");
  EXPECT_EQ(value_of(ci, "sdc:nics:0:interface"), "net0");
  EXPECT_EQ(value_of(ci, "/resolver/search"), "example");
  EXPECT_EQ(value_of(ci, "root_authorized_keys"), "ssh-rsa AAA k1\nssh-ed25519 BBB k2");
  EXPECT_EQ(value_of(ci, "sdc:routes"), "[]");
  EXPECT_EQ(value_of(ci, "cloud-init:user-data"), ci.user_data());
  EXPECT_EQ(value_of(ci, "sdc:cloud-init:user-data"), ci.user_data());
}

TEST(MetadataProtocol, GetOfWhatIsNotThereAnswersNotFound) {
  Cloudinit ci = negotiated();
  for (const std::string key : {
           "kms_host",              // an empty string
           "nosuchkey", "sdc:nosuchkey",
           "sdc:nics:5:mac",        // index past the end
           "sdc:nics:x:mac",        // not an index
           "/nics/99999999999999999999999999/mac",  // index too large for any array
           "/~2bad",                // not a valid pointer
           "hostname/", "sdc:",
       }) {
    Answer a = ask(ci, "GET", key);
    EXPECT_EQ(a.tag, key);
    EXPECT_EQ(a.body.word, "NOTFOUND") << key;
    EXPECT_EQ(a.body.argument, "") << key;
  }
  // An empty key is sent without an argument: still a GET, still nothing.
  Answer empty = ask(ci, "GET", "");
  EXPECT_EQ(empty.body.word, "NOTFOUND");
}

TEST(MetadataProtocol, BeforeNegotiationNothingIsFound) {
  Cloudinit ci("vm1");
  ci.from_item(protocol_record().dump());
  EXPECT_EQ(ask(ci, "GET", "hostname").body.word, "NOTFOUND");
  Answer keys = ask(ci, "KEYS", "");
  EXPECT_EQ(keys.tag, "");
  EXPECT_EQ(keys.body.word, "SUCCESS");
  EXPECT_EQ(keys.body.argument, "\n");
}

TEST(MetadataProtocol, KeysListsTheWholeDocumentsOnOffer) {
  Cloudinit ci = negotiated();
  Answer keys = ask(ci, "KEYS", "");
  EXPECT_EQ(keys.body.word, "SUCCESS");
  EXPECT_EQ(keys.body.argument, "root_authorized_keys\n");

  json no_keys = protocol_record();
  no_keys["guest"]["users"] = json::object();
  Cloudinit bare = negotiated(no_keys);
  EXPECT_EQ(ask(bare, "KEYS", "").body.argument, "\n");
}

TEST(MetadataProtocol, RenegotiationRebuildsTheDocument) {
  Cloudinit ci = negotiated();
  ci.metadata()["hostname"] = "changed";
  EXPECT_EQ(ci.handle_request("NEGOTIATE V2").second, "V2_OK");
  EXPECT_EQ(value_of(ci, "hostname"), "h1.example");
}

TEST(MetadataProtocol, MalformedRequestsAreInvalidCommands) {
  Cloudinit ci = negotiated();
  std::string good = MetadataFrame::compose(MetadataFrame::seal({"r1", "GET", "hostname"}));
  MetadataFrame wrong_crc = MetadataFrame::seal({"r1", "GET", "hostname"});
  wrong_crc.crc = "deadbeef";
  MetadataFrame wrong_length = MetadataFrame::seal({"r1", "GET", "hostname"});
  wrong_length.length = "4096";
  std::string unfilled_body = "r1 GET YWI";  // "ab" without its "="
  char unfilled_crc[9];
  std::snprintf(unfilled_crc, sizeof unfilled_crc, "%08x",
                crc32(unfilled_body.data(), unfilled_body.size()));
  std::string unfilled = "V2 10 " + std::string(unfilled_crc) + " " + unfilled_body;
  for (const std::string& line : {
           std::string(""), std::string("hello"), std::string("V2 "), std::string("V2"),
           std::string("v2 ") + good.substr(3),
           std::string(" ") + good,
           std::string("V2 abc 0 r1 KEYS"),
           std::string("V2 7  r1 KEYS"),
           MetadataFrame::compose(wrong_crc), MetadataFrame::compose(wrong_length),
           MetadataFrame::compose(MetadataFrame::seal({"r1", "PUT", "hostname"})),
           MetadataFrame::compose(MetadataFrame::seal({"r1", "get", "hostname"})),
           unfilled,
           std::string(70000, 'V'),
           std::string("V2 ") + std::string(3, '\xff') + std::string(1, '\0') + "x",
       }) {
    auto [tag, response] = ci.handle_request(line);
    EXPECT_EQ(response, "invalid command") << line.substr(0, 80);
    EXPECT_EQ(tag, "") << line.substr(0, 80);
  }
  // The service goes on after all that.
  EXPECT_EQ(value_of(ci, "hostname"), "h1.example");
}

TEST(MetadataProtocol, AnswersCarryArbitraryBytes) {
  json record = protocol_record();
  record["guest"]["hostname"] = "h\xc3\xa9 with blanks\nand a line";
  Cloudinit ci = negotiated(record);
  EXPECT_EQ(value_of(ci, "hostname"), "h\xc3\xa9 with blanks\nand a line");
  // Non-ASCII text inside JSON values is written as it is.
  record["guest"]["resolver"]["name_server"] = json::array({"d\xc3\xa9"});
  Cloudinit ci2 = negotiated(record);
  EXPECT_EQ(value_of(ci2, "resolvers"), "[\"d\xc3\xa9\"]");
}

}  // namespace
