// Fuzz target: a knowledge file, read through parseKnowledgeFile both as a plain file and as
// a complemented one (the same bytes, complemented back by the reader). When the bytes can be
// scrambled by the author tool, the scrambled file must read to the same entries as the plain
// one, and unscrambling must give back the text as the reader reads it (for text without zero
// bytes: after a zero byte the reader sees nothing of a read).
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz_support.h"
#include "script/knowledge_file.h"
#include "util/author_text.h"
#include "util/line_reader.h"

namespace {

zelka::fuzz::ScratchDir& scratch() {
  static auto* dir = new zelka::fuzz::ScratchDir();
  return *dir;
}

using EntryView = std::tuple<std::string, int, std::string, std::string, std::string,
                             std::string>;

std::vector<EntryView> entriesOf(const zelka::KnowledgeBase& base) {
  std::vector<EntryView> out;
  for (const auto& [key, e] : base) {
    out.emplace_back(key, e.emotionLimit, e.script, e.conditionalElse, e.conditional, e.token);
  }
  return out;
}

// The text as the reader hands it out: read by read, CR LF as LF.
std::string asRead(std::string_view bytes) {
  zelka::LineReader reader = zelka::LineReader::fromText(std::string(bytes),
                                                          zelka::kKnowledgeReadBuffer);
  std::string text, piece;
  while (reader.readLine(piece)) text += piece;
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = zelka::fuzz::asText(data, size);
  const std::u16string header(zelka::kKnowledgeFileHeader);
  const std::u16string defaultToken = u"OnZelkaFreeTalk";

  const std::string plainPath = scratch().file("talk.tlk");
  zelka::fuzz::writeFile(plainPath, bytes);
  zelka::KnowledgeBase plain;
  zelka::KnowledgeFileReport report;
  const bool plainRead =
      zelka::parseKnowledgeFile(defaultToken, plainPath, header, false, plain, &report);

  // The same bytes read as a complemented file.
  const std::string scrambledPath = scratch().file("talk.tlc");
  zelka::fuzz::writeFile(scrambledPath, bytes);
  zelka::KnowledgeBase complemented;
  zelka::parseKnowledgeFile(defaultToken, scrambledPath, header, true, complemented);

  // The author tool's round trip (the plain text ends at a byte 0x1A, as a load reads it).
  std::string scrambled;
  if (zelka::scrambleKnowledgeText(bytes, scrambled)) {
    if (bytes.find('\0') == std::string_view::npos &&
        zelka::unscrambleKnowledgeText(scrambled) != asRead(zelka::beforeEndOfText(bytes))) {
      zelka::fuzz::fail("unscrambling does not restore the text");
    }
    zelka::fuzz::writeFile(scrambledPath, scrambled);
    zelka::KnowledgeBase fromScrambled;
    const bool scrambledRead =
        zelka::parseKnowledgeFile(defaultToken, scrambledPath, header, true, fromScrambled);
    if (scrambledRead != plainRead) zelka::fuzz::fail("scrambled file read differently");
    if (entriesOf(fromScrambled) != entriesOf(plain)) {
      zelka::fuzz::fail("scrambled file gives other entries");
    }
  }
  return 0;
}
