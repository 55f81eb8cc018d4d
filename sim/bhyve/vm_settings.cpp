#include "sim/bhyve/vm_settings.h"

#include <cctype>
#include <set>
#include <vector>

#include <fmt/format.h>

#include "sim/include/vmm_sim_protocol.h"

namespace bhyve_sim {
namespace {

constexpr int kMaxCpus = 256;

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(sep, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// Splits device options at commas outside double quotes; the quotes are dropped.
std::optional<std::vector<std::string>> split_options(const std::string& text,
                                                      std::string* error) {
  std::vector<std::string> tokens;
  std::string current;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      tokens.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (quoted) {
    *error = fmt::format("unbalanced quote in '{}'", text);
    return std::nullopt;
  }
  tokens.push_back(current);
  return tokens;
}

bool is_mac(const std::string& text) {
  auto parts = split(text, ':');
  if (parts.size() != 6) return false;
  for (const auto& p : parts)
    if (p.size() != 2 || !std::isxdigit(static_cast<unsigned char>(p[0])) ||
        !std::isxdigit(static_cast<unsigned char>(p[1])))
      return false;
  return true;
}

struct Emulation {
  const char* name;
  const char* first_bare;  // the setting a first option without "=" names, or null
};

const Emulation kEmulations[] = {
    {"hostbridge", nullptr}, {"ahci-cd", "path"},       {"ahci-hd", "path"},
    {"virtio-blk", "path"},  {"nvme", "path"},          {"virtio-net", "backend"},
    {"passthru", "pptdev"},  {"virtio-balloon", nullptr}, {"virtio-rnd", nullptr},
    {"fbuf", nullptr},       {"xhci", nullptr},         {"lpc", nullptr},
};

const Emulation* find_emulation(const std::string& name) {
  for (const auto& e : kEmulations)
    if (name == e.name) return &e;
  return nullptr;
}

std::optional<std::string> need(const Settings& dev, const std::string& key,
                                const std::string& where) {
  auto it = dev.find(key);
  if (it == dev.end() || it->second.empty()) return fmt::format("{}: '{}' is required", where, key);
  return std::nullopt;
}

std::optional<std::string> need_number(const Settings& dev, const std::string& key, long long min,
                                       long long max, const std::string& where) {
  auto it = dev.find(key);
  if (it == dev.end()) return std::nullopt;
  if (!parse_number(it->second, min, max))
    return fmt::format("{}: bad {} '{}'", where, key, it->second);
  return std::nullopt;
}

// Checks one device's settings (keys without the "pci.B.S.F." prefix).
std::optional<std::string> check_device(const std::string& emul, const Settings& dev,
                                        const std::string& where) {
  if (emul == "ahci-cd" || emul == "ahci-hd") return need(dev, "path", where);
  if (emul == "virtio-blk") {
    if (auto e = need(dev, "path", where)) return e;
    if (auto it = dev.find("sectorsize"); it != dev.end()) {
      auto sizes = split(it->second, '/');
      if (sizes.size() > 2) return fmt::format("{}: bad sectorsize '{}'", where, it->second);
      for (const auto& s : sizes)
        if (!parse_number(s, 0, 65536)) return fmt::format("{}: bad sectorsize '{}'", where, it->second);
    }
  } else if (emul == "nvme") {
    if (dev.count("nvmf") && dev.at("nvmf") == "true") {
      for (const char* key : {"trtype", "traddr", "trsvcid", "subnqn"})
        if (auto e = need(dev, key, where)) return e;
      if (auto e = need_number(dev, "trsvcid", 0, 65535, where)) return e;
    } else if (auto e = need(dev, "path", where)) {
      return e;
    }
    if (auto e = need_number(dev, "sectsz", 0, 65536, where)) return e;
  } else if (emul == "virtio-net") {
    if (auto e = need(dev, "backend", where)) return e;
    if (dev.at("backend") == "netgraph") {
      for (const char* key : {"path", "hook"})
        if (auto e = need(dev, key, where)) return e;
    }
    if (auto it = dev.find("mac"); it != dev.end() && !is_mac(it->second))
      return fmt::format("{}: bad mac '{}'", where, it->second);
    if (auto it = dev.find("mac_list"); it != dev.end())
      for (const auto& mac : split(it->second, ';'))
        if (!is_mac(mac)) return fmt::format("{}: bad mac '{}' in mac_list", where, mac);
    if (auto e = need_number(dev, "ratelimit", 1, 1000000000, where)) return e;
  } else if (emul == "passthru") {
    if (auto e = need(dev, "pptdev", where)) return e;
    auto parts = split(dev.at("pptdev"), '/');
    if (parts.size() != 3 || !parse_number(parts[0], 0, 255) || !parse_number(parts[1], 0, 31) ||
        !parse_number(parts[2], 0, 7))
      return fmt::format("{}: bad passthru device '{}'", where, dev.at("pptdev"));
  } else if (emul == "fbuf") {
    if (auto e = need(dev, "tcp", where)) return e;
    const std::string& tcp = dev.at("tcp");
    size_t colon = tcp.rfind(':');
    if (colon == std::string::npos || !parse_number(tcp.substr(colon + 1), 0, 65535))
      return fmt::format("{}: bad tcp '{}'", where, tcp);
    if (auto e = need_number(dev, "w", 0, 65535, where)) return e;
    if (auto e = need_number(dev, "h", 0, 65535, where)) return e;
  }
  for (const char* limit : {"iops_limit", "mbps_limit"})
    if (auto e = need_number(dev, limit, 1, 1LL << 40, where)) return e;
  return std::nullopt;
}

}  // namespace

std::optional<long long> parse_number(const std::string& text, long long min, long long max) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < min || value > max) return std::nullopt;
  return value;
}

std::string settings_text(const Settings& config) { return vmm_sim::settings_text(config); }

Settings parse_settings_text(const std::string& text) { return vmm_sim::parse_settings(text); }

std::optional<std::string> add_topology(Settings& config, const std::string& value) {
  if (auto n = parse_number(value, 1, kMaxCpus)) {
    config["cpus"] = std::to_string(*n);
    return std::nullopt;
  }
  if (value.empty() || value.find('=') == std::string::npos)
    return fmt::format("invalid topology '{}'", value);
  static const std::set<std::string> keys = {"cpus", "sockets", "cores", "threads"};
  Settings parts;
  for (const auto& part : split(value, ',')) {
    size_t eq = part.find('=');
    if (eq == std::string::npos || !keys.count(part.substr(0, eq)) ||
        !parse_number(part.substr(eq + 1), 1, kMaxCpus))
      return fmt::format("invalid topology '{}'", value);
    parts[part.substr(0, eq)] = part.substr(eq + 1);
  }
  long long product = 1;
  for (const char* key : {"sockets", "cores", "threads"}) {
    std::string v = parts.count(key) ? parts[key] : "1";
    config[key] = v;
    product *= *parse_number(v, 1, kMaxCpus);
  }
  if (product > kMaxCpus) return fmt::format("invalid topology '{}': too many CPUs", value);
  config["cpus"] = parts.count("cpus") ? parts["cpus"] : std::to_string(product);
  return std::nullopt;
}

std::optional<std::string> add_memory(Settings& config, const std::string& value) {
  std::string digits = value;
  long long unit = 1;
  if (!digits.empty() && !std::isdigit(static_cast<unsigned char>(digits.back()))) {
    switch (std::toupper(static_cast<unsigned char>(digits.back()))) {
      case 'K': unit = 1LL << 10; break;
      case 'M': unit = 1LL << 20; break;
      case 'G': unit = 1LL << 30; break;
      case 'T': unit = 1LL << 40; break;
      default: return fmt::format("invalid memory size '{}'", value);
    }
    digits.pop_back();
  }
  auto n = parse_number(digits, 1, (1LL << 50) / unit);
  if (!n) return fmt::format("invalid memory size '{}'", value);
  config["memory.size"] = std::to_string(*n * unit);
  return std::nullopt;
}

std::optional<std::string> add_slot(Settings& config, const std::string& value) {
  size_t first = value.find(',');
  if (first == std::string::npos) return fmt::format("invalid slot '{}': no emulation", value);
  std::string where = fmt::format("slot '{}'", value.substr(0, first));

  auto numbers = split(value.substr(0, first), ':');
  long long bus = 0, slot = 0, func = 0;
  std::optional<long long> b = 0, s, f = 0;
  if (numbers.size() == 1) {
    s = parse_number(numbers[0], 0, 31);
  } else if (numbers.size() == 2) {
    s = parse_number(numbers[0], 0, 31);
    f = parse_number(numbers[1], 0, 7);
  } else if (numbers.size() == 3) {
    b = parse_number(numbers[0], 0, 255);
    s = parse_number(numbers[1], 0, 31);
    f = parse_number(numbers[2], 0, 7);
  }
  if (!b || !s || !f) return fmt::format("invalid {}", where);
  bus = *b;
  slot = *s;
  func = *f;

  std::string rest = value.substr(first + 1);
  size_t second = rest.find(',');
  std::string emul = rest.substr(0, second);
  const Emulation* e = find_emulation(emul);
  if (!e) return fmt::format("{}: unknown emulation '{}'", where, emul);

  std::string prefix = fmt::format("pci.{}.{}.{}.", bus, slot, func);
  if (config.count(prefix + "device")) return fmt::format("{}: slot already in use", where);

  Settings dev;
  if (second != std::string::npos) {
    std::string error;
    auto tokens = split_options(rest.substr(second + 1), &error);
    if (!tokens) return fmt::format("{}: {}", where, error);
    bool first_token = true;
    for (const auto& token : *tokens) {
      if (token.empty()) return fmt::format("{}: empty option in '{}'", where, value);
      size_t eq = token.find('=');
      if (eq != std::string::npos) {
        if (eq == 0) return fmt::format("{}: option without a name '{}'", where, token);
        dev[token.substr(0, eq)] = token.substr(eq + 1);
      } else if (emul == "nvme" && token == "nvmf") {
        dev["nvmf"] = "true";
      } else if (first_token && e->first_bare) {
        dev[e->first_bare] = token;
      } else {
        dev[token] = "true";
      }
      first_token = false;
    }
  }
  if (auto err = check_device(emul, dev, where)) return err;
  config[prefix + "device"] = emul;
  for (const auto& [k, v] : dev) config[prefix + k] = v;
  return std::nullopt;
}

std::optional<std::string> add_lpc(Settings& config, const std::string& value) {
  size_t comma = value.find(',');
  std::string device = value.substr(0, comma);
  std::string path = comma == std::string::npos ? "" : value.substr(comma + 1);
  std::string key;
  if (device == "com1" || device == "com2" || device == "com3" || device == "com4") {
    key = "lpc." + device + ".path";
  } else if (device == "bootrom") {
    key = "lpc.bootrom";
    size_t vars = path.find(',');
    if (vars != std::string::npos) {
      config["lpc.bootvars"] = path.substr(vars + 1);
      path.resize(vars);
    }
  } else {
    return fmt::format("invalid lpc device '{}'", value);
  }
  if (path.empty()) return fmt::format("lpc device '{}' needs a path", device);
  if (config.count(key)) return fmt::format("lpc device '{}' given twice", device);
  config[key] = path;
  return std::nullopt;
}

std::optional<std::string> add_setting(Settings& config, const std::string& value) {
  size_t eq = value.find('=');
  if (eq == std::string::npos || eq == 0) return fmt::format("invalid setting '{}'", value);
  std::string key = value.substr(0, eq);
  for (char c : key)
    if (std::isspace(static_cast<unsigned char>(c)) || c == '\0')
      return fmt::format("invalid setting '{}'", value);
  config[key] = value.substr(eq + 1);
  return std::nullopt;
}

std::optional<std::string> check_settings(const Settings& config) {
  bool has_lpc_device = false;
  bool uses_lpc = false;
  for (const auto& [key, value] : config) {
    if (key.rfind("pci.", 0) == 0 && key.size() > 7 &&
        key.compare(key.size() - 7, 7, ".device") == 0 && value == "lpc")
      has_lpc_device = true;
    if (key.rfind("lpc.com", 0) == 0) uses_lpc = true;
  }
  if (uses_lpc && !has_lpc_device) return "serial ports need an lpc device (-s 31,lpc)";
  return std::nullopt;
}

}  // namespace bhyve_sim
