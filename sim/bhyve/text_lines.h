// The lines of a small text file that carry something: numbered from 1,
// without a trailing carriage return; blank lines and "#" comment lines are
// left out.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace bhyve_sim {

struct TextLine {
  int number;
  std::string text;
};

inline std::vector<TextLine> content_lines(const std::string& text) {
  std::vector<TextLine> lines;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    lines.push_back({number, line});
  }
  return lines;
}

}  // namespace bhyve_sim
