// What the NoCloud documents share in writing YAML.
#pragma once

#include <string>
#include <vector>

#include <yaml-cpp/yaml.h>

// The plain scalars that cloud-init reads as booleans.
inline constexpr const char* kYamlFalse = "False";
inline constexpr const char* kYamlTrue = "True";

// The emitter's text for `node` (default settings, block style).
inline std::string emit_yaml(const YAML::Node& node) {
  YAML::Emitter out;
  out << node;
  return out.c_str();
}

// A sequence of the texts, in order.
inline YAML::Node yaml_list(const std::vector<std::string>& texts) {
  YAML::Node list(YAML::NodeType::Sequence);
  for (const std::string& text : texts) list.push_back(text);
  return list;
}
