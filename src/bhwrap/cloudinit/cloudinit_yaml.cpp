#include "bhwrap/cloudinit/cloudinit_yaml.h"

#include <regex>

namespace {

// The plain scalars of the YAML 1.1 types null, bool, int, float, timestamp,
// merge and value, as YAML 1.1 readers match them, with the YAML 1.2 core
// forms they lack ("0o17", "1e3", "08").
const std::regex& non_text_pattern() {
  static const std::regex pattern(
      // null
      "~|null|Null|NULL"
      // bool
      "|y|Y|yes|Yes|YES|n|N|no|No|NO|true|True|TRUE|false|False|FALSE|on|On|ON|off|Off|OFF"
      // int: binary, octal, decimal, hexadecimal, sexagesimal
      "|[-+]?0b[01_]+|[-+]?0[0-7_]+|[-+]?(0|[1-9][0-9_]*)|[-+]?0x[0-9a-fA-F_]+"
      "|[-+]?[1-9][0-9_]*(:[0-5]?[0-9])+"
      "|[-+]?[0-9]+|0o[0-7]+"
      // float: decimal, sexagesimal, infinity, not-a-number
      "|[-+]?[0-9][0-9_]*\\.[0-9_]*([eE][-+]?[0-9]+)?|[-+]?\\.[0-9][0-9_]*([eE][-+]?[0-9]+)?"
      "|[-+]?[0-9]+[eE][-+]?[0-9]+"
      "|[-+]?[0-9][0-9_]*(:[0-5]?[0-9])+\\.[0-9_]*"
      "|[-+]?\\.(inf|Inf|INF)|\\.(nan|NaN|NAN)"
      // timestamp
      "|[0-9]{4}-[0-9]{2}-[0-9]{2}"
      "|[0-9]{4}-[0-9]{1,2}-[0-9]{1,2}([Tt]|[ \\t]+)[0-9]{1,2}:[0-9]{2}:[0-9]{2}(\\.[0-9]*)?"
      "([ \\t]*(Z|[-+][0-9]{1,2}(:[0-9]{2})?))?"
      // merge, value
      "|<<|=",
      std::regex::optimize);
  return pattern;
}

// Loaded nodes carry "?" where they were plain, "!" where they were quoted.
constexpr const char* kPlainTag = "?";

void emit_node(YAML::Emitter& out, const YAML::Node& node) {
  switch (node.Type()) {
    case YAML::NodeType::Sequence:
      if (node.Style() == YAML::EmitterStyle::Flow) out << YAML::Flow;
      out << YAML::BeginSeq;
      for (const YAML::Node& item : node) emit_node(out, item);
      out << YAML::EndSeq;
      break;
    case YAML::NodeType::Map:
      if (node.Style() == YAML::EmitterStyle::Flow) out << YAML::Flow;
      out << YAML::BeginMap;
      for (const auto& entry : node) {
        out << YAML::Key;
        emit_node(out, entry.first);
        out << YAML::Value;
        emit_node(out, entry.second);
      }
      out << YAML::EndMap;
      break;
    case YAML::NodeType::Scalar:
      if (node.Tag() != kPlainTag && yaml_resolves_to_non_text(node.Scalar()))
        out << YAML::DoubleQuoted;
      out << node.Scalar();
      break;
    case YAML::NodeType::Null:
    case YAML::NodeType::Undefined:
      out << YAML::Null;
      break;
  }
}

}  // namespace

bool yaml_resolves_to_non_text(std::string_view text) {
  return text.empty() || std::regex_match(text.begin(), text.end(), non_text_pattern());
}

void yaml_mark_texts(YAML::Node node) {
  if (node.IsScalar()) {
    node.SetTag("!");
    return;
  }
  if (node.IsSequence())
    for (YAML::Node item : node) yaml_mark_texts(item);
  else if (node.IsMap())
    for (auto entry : node) yaml_mark_texts(entry.second);
}

std::string emit_yaml(const YAML::Node& node) {
  YAML::Emitter out;
  emit_node(out, node);
  return out.c_str();
}
