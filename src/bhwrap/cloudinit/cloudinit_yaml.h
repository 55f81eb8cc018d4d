// What the NoCloud documents share in writing YAML.
//
// Guests read the documents with a YAML 1.1 reader, which resolves plain
// scalars by their look: "100001" becomes an integer, "yes" and "off"
// booleans, "2024-01-02" a date, "~" null. Every text value is therefore
// written quoted when such a reader would take it for anything but a text;
// only the scalars made with yaml_plain (booleans and numbers meant as such)
// are written as they are.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <yaml-cpp/yaml.h>

// The plain scalars that cloud-init reads as booleans.
inline constexpr const char* kYamlFalse = "False";
inline constexpr const char* kYamlTrue = "True";

// Whether a YAML reader would resolve the plain scalar `text` to something
// other than a text: null, a boolean, an integer or a float (YAML 1.1 in every
// spelling, and YAML 1.2's), a timestamp, or the merge and value keys.
bool yaml_resolves_to_non_text(std::string_view text);

// A scalar meant for the reader to resolve (a boolean or a number written on
// purpose), written plain. Nodes loaded from a document carry the same mark
// where they were plain there.
template <typename T>
YAML::Node yaml_plain(const T& value) {
  YAML::Node node(value);
  node.SetTag("?");
  return node;
}

// Every scalar of `node` becomes a text (as a value loaded from elsewhere
// should stay one, however it was written there).
void yaml_mark_texts(YAML::Node node);

// The emitter's text for `node` (default settings, block style unless a node
// asks for flow), its texts quoted where a reader would take them for another
// type.
std::string emit_yaml(const YAML::Node& node);

// A sequence of the texts, in order.
inline YAML::Node yaml_list(const std::vector<std::string>& texts) {
  YAML::Node list(YAML::NodeType::Sequence);
  for (const std::string& text : texts) list.push_back(text);
  return list;
}
