// The guide's "When something goes wrong" section, run: every zelka-check block there puts one
// mistake into an otherwise sound ghost, and check must print exactly the finding lines the
// guide shows for it (and no other), so the guide and the linter cannot drift apart.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "host/host_ghost.h"
#include "host/host_process.h"
#include "support/guide_blocks.h"

namespace zelka {
namespace {

using testing::HostResult;
using testing::quoted;
using testing::runHostProcess;
using testing::sjis;

// The sound ghost each example starts from (the guide describes it).
const std::string kBaseConfig =
    "<?xml version='1.0' encoding='Shift_JIS'?>\n"
    "<ZelkaConfiguration>\n"
    "  <GhostProfile ghost_name=\"エミリ\" talk_interval=\"60\"/>\n"
    "  <RunEnvironment runlevel=\"0\">\n"
    "    <Directory type=\"vender\" name=\"vendor/\"/>\n"
    "  </RunEnvironment>\n"
    "</ZelkaConfiguration>\n";
const std::string kBaseTalk =
    "[ZELKA KNOWLEDGE 2.0]\n{\ntoken: OnBoot\nscript: \\0[0]こんにちは。\n}\n";

// "<0xNN>" in an example stands for that byte (the way check shows bytes that are not text).
std::string withBytes(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 3, "<0x") == 0 && i + 6 <= text.size() && text[i + 5] == '>') {
      out += static_cast<char>(std::stoi(text.substr(i + 3, 2), nullptr, 16));
      i += 5;
    } else {
      out += text[i];
    }
  }
  return out;
}

struct Example {
  int line = 0;
  std::vector<std::pair<std::string, std::string>> files;  // path, bytes
  std::vector<std::string> removed, readOnly;
  std::vector<std::string> expected;
};

// A block: "file PATH [utf-8]" starts a file (its lines follow; Shift_JIS unless utf-8),
// "remove PATH" takes a file of the sound ghost away, "readonly PATH" makes a directory
// without write permission, and "→ " lines are the findings check prints.
Example parse(const testing::GuideBlock& block) {
  Example example;
  example.line = block.line;
  std::istringstream in(block.text);
  std::string line;
  bool utf8 = false;
  auto close = [&]() {
    if (!example.files.empty() && !utf8) example.files.back().second = sjis(example.files.back().second);
    if (!example.files.empty()) example.files.back().second = withBytes(example.files.back().second);
  };
  bool inFile = false;
  while (std::getline(in, line)) {
    if (line.starts_with("→ ")) {
      example.expected.push_back(line.substr(std::string("→ ").size()));
    } else if (line.starts_with("file ")) {
      if (inFile) close();
      std::istringstream words(line.substr(5));
      std::string path, encoding;
      words >> path >> encoding;
      utf8 = encoding == "utf-8";
      example.files.push_back({path, ""});
      inFile = true;
    } else if (line.starts_with("remove ")) {
      example.removed.push_back(line.substr(7));
    } else if (line.starts_with("readonly ")) {
      example.readOnly.push_back(line.substr(9));
    } else if (inFile) {
      example.files.back().second += line + "\n";
    }
  }
  if (inFile) close();
  return example;
}

TEST(CheckGuideTest, EveryFindingInTheGuideIsWhatCheckPrints) {
  int examples = 0;
  for (const testing::GuideBlock& block : testing::guideBlocks(testing::guideText())) {
    if (block.language != "zelka-check") continue;
    ++examples;
    const Example example = parse(block);
    const std::string where = "docs/authoring.md:" + std::to_string(example.line);
    testing::TempGhost ghost(sjis(kBaseConfig));
    testing::TempDir work;
    ghost.write("vendor/talk.tlk", sjis(kBaseTalk));
    for (const std::string& path : example.removed) std::filesystem::remove(ghost.path(path));
    for (const auto& [path, bytes] : example.files) ghost.write(path, bytes);
    for (const std::string& path : example.readOnly) {
      std::filesystem::create_directories(ghost.path(path));
      ::chmod(ghost.path(path).c_str(), 0555);
    }
    const HostResult run = runHostProcess(work.path(), "check --brief " + quoted(ghost.dir()));
    std::vector<std::string> found;
    std::istringstream out(run.out);
    for (std::string line; std::getline(out, line);) {
      if (line.find(": error: ") != std::string::npos ||
          line.find(": warning: ") != std::string::npos) {
        found.push_back(line);
      }
    }
    EXPECT_EQ(found, example.expected) << where << "\n" << run.out;
    const bool hasError = std::any_of(example.expected.begin(), example.expected.end(),
                                      [](const std::string& l) {
                                        return l.find(": error: ") != std::string::npos;
                                      });
    EXPECT_EQ(run.status, hasError ? 1 : 0) << where;
    for (const std::string& path : example.readOnly) ::chmod(ghost.path(path).c_str(), 0755);
  }
  EXPECT_GE(examples, 25);
}

}  // namespace
}  // namespace zelka
