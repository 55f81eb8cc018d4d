// Fuzz target: the configuration files: the INI file on first load and on
// re-read (Config::load) and the cluster configuration (nvmf_address).
//
// Input: up to three texts separated by lines "%%": the INI file of the first
// load, the INI file of the re-read, the cluster configuration.
//
// Promises: a value the INI library reads is taken as given: texts as they
// are, numbers as the whole number written (one the field cannot hold, or no
// number, leaves the default and for the broker's settings refuses the
// address); a file that cannot be read changes nothing on re-read; a broker
// address that is refused is never applied (the one in use stays). The
// cluster configuration gives the pool's node's "NVMf" address without its
// prefix length, or nothing.
#include <cctype>
#include <cstdint>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include <INIReader.h>

#include "driver/cluster_config.h"
#include "driver/config.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using nlohmann::json;

// The settings a configuration file sets, and the broker address made of them.
std::vector<std::string> settings(const Config& c) {
  return {c.log_level,     c.amqp_host,  c.amqp_user,     c.amqp_password,
          c.amqp_vhost,    std::to_string(c.amqp_port),   c.exchange,
          c.event_key,     c.publish_queue,               c.cmd_queue,
          std::to_string(c.heartbeats),  c.pools_root,    c.state_dir,
          c.pool_config_file, std::to_string(c.mq_max_msg_size_kb),
          std::to_string(c.nvmf_allow_any_host), std::to_string(c.parallel),
          c.amqp_url};
}

// The whole number `text` holds, as the INI library documents its integers
// (decimal, or hexadecimal after "0x"; a sign), when it fits T.
template <typename T>
std::optional<T> whole_number(const std::string& text) {
  static const std::regex form("[+-]?([0-9]+|0[xX][0-9a-fA-F]+)");
  if (!std::regex_match(text, form)) return std::nullopt;
  const bool negative = text[0] == '-';
  std::string digits = text.substr(text[0] == '-' || text[0] == '+' ? 1 : 0);
  const bool hex = digits.size() > 2 && (digits[1] == 'x' || digits[1] == 'X');
  __int128 value = 0;
  for (char c : hex ? digits.substr(2) : digits) {
    value = value * (hex ? 16 : 10) + (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10);
    if (value > (__int128(1) << 64)) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max()) return std::nullopt;
  return static_cast<T>(value);
}

// The port of an applied broker address "amqp://...host:port[/vhost]".
std::string url_port(const std::string& url) {
  std::string rest = url.substr(url.find('@') == std::string::npos ? 7 : url.find('@') + 1);
  rest = rest.substr(0, rest.find('/'));
  return rest.substr(rest.rfind(':') + 1);
}

// A number field read as given: the number written when the field holds it
// and it is at least `minimum`; else the default, and for the broker's
// settings a refused address.
template <typename T>
void check_number(const INIReader& ini, const char* section, const char* key, T field, T fallback,
                  bool broker, bool refused, const std::string& seen, T minimum = std::numeric_limits<T>::min()) {
  const std::string text = ini.Get(section, key, "");
  if (text.empty()) return;
  std::optional<T> given = whole_number<T>(text);
  if (given && *given >= minimum)
    FUZZ_CHECK(field == *given, fmt::format("[{}] {}={} read as {}\n{}", section, key, text, field, seen));
  else if (!given)
    FUZZ_CHECK(field == fallback && (refused || !broker),
               fmt::format("[{}] {}={} read as {}, address {}\n{}", section, key, text, field,
                           refused ? "refused" : "applied", seen));
}

void check_load(const Config& c, const std::string& path, const std::string& seen) {
  INIReader ini(path);
  if (ini.ParseError() != 0) return;
  const bool refused = !c.amqp_error.empty();
  const Config fresh;
  const std::pair<std::string, std::string> texts[] = {
      {c.log_level, ini.Get("LOG", "level", fresh.log_level)},
      {c.amqp_host, ini.Get("AMQP", "Host", "")},
      {c.amqp_user, ini.Get("AMQP", "User", "")},
      {c.amqp_password, ini.Get("AMQP", "Password", "")},
      {c.amqp_vhost, ini.Get("AMQP", "Vhost", "")},
      {c.exchange, ini.Get("AMQP", "Exchange", "")},
      {c.publish_queue, ini.Get("AMQP", "PublishQueue", "")},
      {c.pools_root, ini.Get("POOL", "RootDir", fresh.pools_root)},
      {c.state_dir, ini.Get("POOL", "StateDir", fresh.state_dir)},
  };
  for (const auto& [field, text] : texts) FUZZ_CHECK(field == text, field + " read for " + text + "\n" + seen);
  check_number<int>(ini, "AMQP", "Port", c.amqp_port, fresh.amqp_port, true, refused, seen);
  check_number<int>(ini, "AMQP", "Heartbeats", c.heartbeats, fresh.heartbeats, true, refused, seen);
  check_number<int64_t>(ini, "RUN", "MqMaxMsgSizeKb", c.mq_max_msg_size_kb, fresh.mq_max_msg_size_kb, false,
                        false, seen, 1);
  FUZZ_CHECK(c.mq_max_msg_size_kb >= 1, seen);
  if (refused) return;
  // The address in use is made of what was read.
  const std::string port = ini.Get("AMQP", "Port", "");
  std::optional<int> given_port = whole_number<int>(port);
  FUZZ_CHECK(port.empty() || (given_port && url_port(c.amqp_url) == std::to_string(*given_port)),
             "Port=" + port + " applied as " + c.amqp_url + "\n" + seen);
}

// Whether a text in `j` is `address`, alone or followed by "/".
bool carries(const json& j, const std::string& address) {
  if (j.is_string()) {
    const std::string& text = j.get_ref<const std::string&>();
    return text.starts_with(address) && (text.size() == address.size() || text[address.size()] == '/');
  }
  for (const json& member : j)
    if ((member.is_structured() || member.is_string()) && carries(member, address)) return true;
  return false;
}

void check_cluster(const std::string& text) {
  const std::string path = platform::host_path(cluster_config_path);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  fuzz_write_file(path, text);
  const json cluster = json::parse(text, nullptr, false);
  for (const char* pool : {"z05", "p1"}) {
    std::optional<std::string> address = nvmf_address(pool);
    if (!address) continue;
    FUZZ_CHECK(!address->empty() && address->find('/') == std::string::npos, *address);
    // Some text of the configuration carries it, up to a prefix length.
    FUZZ_CHECK(carries(cluster, *address), *address + " is nowhere in " + text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_quiet_logs();
  const std::string root = fuzz_host_root();
  const std::vector<std::string> texts =
      fuzz_split(std::string(reinterpret_cast<const char*>(data), size), "\n%%\n");

  Config& c = Config::instance();
  c = Config{};
  c.config_path = root + "/first.config";
  fuzz_write_file(c.config_path, texts[0]);
  const std::string first_seen = "first load:\n" + texts[0];
  if (!c.load()) FUZZ_CHECK(settings(c) == settings(Config{}), first_seen);
  check_load(c, c.config_path, first_seen);

  if (texts.size() > 1) {
    const Config before = c;
    c.config_path = root + "/second.config";
    fuzz_write_file(c.config_path, texts[1]);
    const std::string seen = first_seen + "\nre-read:\n" + texts[1];
    if (!c.load()) FUZZ_CHECK(settings(c) == settings(before), seen);
    if (!c.amqp_error.empty()) FUZZ_CHECK(c.amqp_url == before.amqp_url, c.amqp_error + "\n" + seen);
    check_load(c, c.config_path, seen);
  }
  if (texts.size() > 2) check_cluster(texts[2]);
  return 0;
}
