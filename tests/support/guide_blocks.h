// The fenced blocks of the authors' guide (docs/authoring.md), for the tests that run its
// examples: each block with the language named after its opening fence and the guide line
// of that fence.
#pragma once

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace zelka::testing {

struct GuideBlock {
  std::string language;
  std::string text;
  int line = 0;
};

inline std::string guidePath() { return std::string(ZELKA_SOURCE_DIR) + "/docs/authoring.md"; }

inline std::string guideText() {
  std::ifstream in(guidePath(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<GuideBlock> guideBlocks(const std::string& guide) {
  std::vector<GuideBlock> blocks;
  std::istringstream in(guide);
  std::string line;
  int number = 0;
  GuideBlock* open = nullptr;
  while (std::getline(in, line)) {
    ++number;
    if (open == nullptr && line.starts_with("```") && line.size() > 3) {
      blocks.push_back({line.substr(3), std::string(), number});
      open = &blocks.back();
    } else if (open != nullptr && line.starts_with("```")) {
      open = nullptr;
    } else if (open != nullptr) {
      open->text += line + "\n";
    } else if (line.starts_with("```")) {
      blocks.push_back({std::string(), std::string(), number});  // a plain block
      while (std::getline(in, line) && !line.starts_with("```")) ++number;
      ++number;
    }
  }
  return blocks;
}

}  // namespace zelka::testing
