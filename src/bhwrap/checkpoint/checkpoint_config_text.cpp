#include "bhwrap/checkpoint/checkpoint_config_text.h"

checkpoint_config_map parse_checkpoint_config(std::string_view text) {
  checkpoint_config_map config;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);

    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    config.try_emplace(std::string(line.substr(0, eq)), line.substr(eq + 1));
  }
  return config;
}
