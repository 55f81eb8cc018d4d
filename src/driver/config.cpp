#include "driver/config.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <limits>
#include <optional>

#include <INIReader.h>
#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "platform/host_root.h"
#include "platform/self.h"

namespace {

bool is_readable_file(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// Percent-encodes what may not stand in the user-information part of a URL.
std::string url_escape(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~')
      out += static_cast<char>(c);
    else
      out += fmt::format("%{:02X}", c);
  }
  return out;
}

// Builds the broker address from the [AMQP] values; an error text when they
// cannot make a usable address.
std::string make_amqp_url(const Config& c, std::string& error) {
  error.clear();
  if (c.amqp_host.empty()) {
    error = "no AMQP host configured";
    return {};
  }
  for (unsigned char ch : c.amqp_host) {
    if (std::isspace(ch) || ch == '/' || ch == '@' || ch == '?' || ch == '#' || ch == '%') {
      error = fmt::format("bad AMQP host '{}'", c.amqp_host);
      return {};
    }
  }
  if (c.amqp_port < 1 || c.amqp_port > 65535) {
    error = fmt::format("bad AMQP port {}", c.amqp_port);
    return {};
  }
  if (c.heartbeats < 0) {
    error = fmt::format("bad AMQP heartbeats {}", c.heartbeats);
    return {};
  }
  std::string auth;
  if (!c.amqp_user.empty())
    auth = url_escape(c.amqp_user) + ":" + url_escape(c.amqp_password) + "@";
  // An IPv6 address stands in brackets.
  std::string host = c.amqp_host;
  if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
  // No path selects the broker's default vhost "/"; "amqp://host/" would name
  // the empty vhost instead.
  std::string vhost =
      c.amqp_vhost.empty() || c.amqp_vhost == "/" ? "" : "/" + url_escape(c.amqp_vhost);
  return fmt::format("amqp://{}{}:{}{}", auth, host, c.amqp_port, vhost);
}

// The whole number of an integer setting as the INI library documents it:
// decimal (leading zeros included) or hexadecimal after "0x", with an
// optional sign; nothing when the text is anything else or T cannot hold it.
template <typename T>
std::optional<T> whole_number(const std::string& text) {
  std::string_view digits = text;
  bool negative = false;
  if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  using Limits = std::numeric_limits<T>;
  if (negative ? magnitude > uint64_t(Limits::max()) + 1 : magnitude > uint64_t(Limits::max()))
    return std::nullopt;
  return negative ? T(-int64_t(magnitude - 1) - 1) : T(magnitude);
}

// Reads the integer setting `key` into `value` (left as it is when the key is
// missing); false for a text that is no whole number `value` can hold.
template <typename T>
bool read_integer(const INIReader& ini, const char* section, const char* key, T& value,
                  std::string& text) {
  text = ini.Get(section, key, "");
  if (text.empty()) return true;
  std::optional<T> number = whole_number<T>(text);
  if (!number) return false;
  value = *number;
  return true;
}

}  // namespace

Config& Config::instance() {
  static Config config;
  return config;
}

std::string Config::find_config_file() {
  const std::string name = std::string(program_name) + ".config";
  std::vector<std::string> dirs;
  std::string exe = platform::executable_path();
  if (!exe.empty()) dirs.push_back(std::filesystem::path(exe).parent_path().string());
  dirs.push_back(platform::host_path("/usr/local/etc"));
  dirs.push_back(platform::host_path("/etc"));
  for (const auto& dir : dirs) {
    std::string path = dir + "/" + name;
    if (is_readable_file(path)) return path;
  }
  return {};
}

bool Config::load() {
  if (config_path.empty()) config_path = find_config_file();

  std::optional<INIReader> ini;
  if (config_path.empty()) {
    spdlog::warn("### Configuration file {}.config not found", program_name);
  } else {
    ini.emplace(config_path);
    int err = ini->ParseError();
    if (err < 0)
      spdlog::error("### Can't read configuration file '{}'", config_path);
    else if (err > 0)
      spdlog::error("### Configuration file '{}' is malformed at line {}", config_path, err);
    if (err != 0) ini.reset();
  }
  if (!ini && file_read) {
    spdlog::warn("### The configuration in use is kept");
    return false;
  }
  if (!ini) spdlog::warn("### The default configuration is used");

  // Everything the file sets starts again from its default.
  const Config fresh;
  log_level = fresh.log_level;
  amqp_host = fresh.amqp_host;
  amqp_user = fresh.amqp_user;
  amqp_password = fresh.amqp_password;
  amqp_vhost = fresh.amqp_vhost;
  amqp_port = fresh.amqp_port;
  exchange = fresh.exchange;
  event_key = fresh.event_key;
  publish_queue = fresh.publish_queue;
  cmd_queue = fresh.cmd_queue;
  heartbeats = fresh.heartbeats;
  pools_root = fresh.pools_root;
  state_dir = fresh.state_dir;
  pool_config_file = fresh.pool_config_file;
  mq_max_msg_size_kb = fresh.mq_max_msg_size_kb;
  nvmf_allow_any_host = fresh.nvmf_allow_any_host;
  parallel = fresh.parallel;

  // A broker setting that is no number refuses the address as a bad value does.
  std::string number_error, text;
  if (ini) {
    file_read = true;
    log_level = ini->Get("LOG", "level", log_level);
    amqp_host = ini->Get("AMQP", "Host", amqp_host);
    amqp_user = ini->Get("AMQP", "User", amqp_user);
    amqp_password = ini->Get("AMQP", "Password", amqp_password);
    amqp_vhost = ini->Get("AMQP", "Vhost", amqp_vhost);
    if (!read_integer(*ini, "AMQP", "Port", amqp_port, text))
      number_error = fmt::format("bad AMQP port '{}'", text);
    exchange = ini->Get("AMQP", "Exchange", exchange);
    event_key = ini->Get("AMQP", "EventKey", event_key);
    publish_queue = ini->Get("AMQP", "PublishQueue", publish_queue);
    cmd_queue = ini->Get("AMQP", "CmdQueue", cmd_queue);
    if (!read_integer(*ini, "AMQP", "Heartbeats", heartbeats, text) && number_error.empty())
      number_error = fmt::format("bad AMQP heartbeats '{}'", text);
    pools_root = ini->Get("POOL", "RootDir", pools_root);
    state_dir = ini->Get("POOL", "StateDir", state_dir);
    pool_config_file = ini->Get("POOL", "ConfigFile", pool_config_file);
    if (!read_integer(*ini, "RUN", "MqMaxMsgSizeKb", mq_max_msg_size_kb, text))
      spdlog::warn("### Bad [RUN] MqMaxMsgSizeKb '{}', {} is used", text, mq_max_msg_size_kb);
    nvmf_allow_any_host = ini->GetBoolean("RUN", "NVMfAllowAnyHost", nvmf_allow_any_host);
    if (lower(ini->Get("RUN", "PoolPerformance", "parallel")) == "serial") parallel = false;
  }
  if (serial_option) parallel = false;
  if (parallel_option) parallel = true;
  if (mq_max_msg_size_kb < 1) {
    spdlog::warn("### Bad [RUN] MqMaxMsgSizeKb {}, {} is used", mq_max_msg_size_kb,
                 fresh.mq_max_msg_size_kb);
    mq_max_msg_size_kb = fresh.mq_max_msg_size_kb;
  }

  std::string error = number_error;
  std::string url = error.empty() ? make_amqp_url(*this, error) : "";
  if (error.empty()) {
    amqp_url = url;
    amqp_error.clear();
  } else {
    amqp_error = error;  // a bad address is never applied: amqp_url stays
  }
  return ini.has_value();
}

std::string Config::effective_log_level() const {
  return cli_log_level.empty() ? log_level : cli_log_level;
}

std::string pool_state_dir(const Config& config, const std::string& pool) {
  return config.pools_root + "/" + pool + "/" + config.state_dir;
}

std::string load_pool_config(const Config& config, const std::string& pool) {
  std::string path = platform::host_path(config.pools_root + "/" + pool + "/.internal/etc/" +
                                         config.pool_config_file);
  INIReader ini(path);
  if (ini.ParseError() != 0) {
    spdlog::error("Can't load pool config file: '{}'", path);
    return {};
  }
  return ini.Get("", "ConsumeQueue", "");
}
