#include "knowledge_tools.h"

#include <cstdio>
#include <optional>

#include "platform/file_system.h"
#include "platform/text_codec.h"
#include "script/knowledge_file.h"
#include "util/line_reader.h"

namespace zelka::host {

namespace {

std::string headerBytes() { return toNarrow(kKnowledgeFileHeader); }

// Whether the first read of the text, taken plainly or complemented back, is the header
// (a CR before the line end is dropped, as the reader drops it).
bool headerAsRead(const std::string& text, bool scrambled) {
  LineReader reader = LineReader::fromText(text, kKnowledgeReadBuffer);
  std::string first;
  if (!reader.readLine(first)) return false;
  if (scrambled) complementRead(first);
  return first == headerBytes();
}
bool beginsWithHeader(const std::string& text) { return headerAsRead(text, false); }
bool scrambledHeader(const std::string& text) { return headerAsRead(text, true); }

// Why the n-th read (1-based) of the text has no scrambled form: the line it begins on and
// the byte that is in the way.
std::string unscramblableRead(const std::string& text, std::size_t read) {
  LineReader reader = LineReader::fromText(text, kKnowledgeReadBuffer);
  std::string piece;
  std::size_t line = 1;
  for (std::size_t n = 1; n < read && reader.readLine(piece); ++n) {
    if (!piece.empty() && piece.back() == '\n') ++line;
  }
  std::string reason = "line " + std::to_string(line);
  if (!reader.readLine(piece)) return reason;
  for (std::size_t i = 0; i + 1 < piece.size(); ++i) {
    const auto byte = static_cast<unsigned char>(piece[i]);
    const bool lineEndNext = i + 2 == piece.size() && piece.back() == '\n';
    if (byte == 0xF5 || byte == 0xFF || (byte == 0xF2 && lineEndNext)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", byte);
      reason += " (byte " + std::string(hex) + " at column " + std::to_string(i + 1) + ")";
      break;
    }
  }
  return reason;
}

std::optional<std::string> readInput(const std::string& path, std::ostream& err) {
  std::optional<std::string> text = readFile(path);
  if (!text) err << "zelka-host: cannot read " << path << "\n";
  return text;
}

int writeOutput(const std::string& path, const std::string& text, std::ostream& err) {
  if (replaceFileAtomically(path, text)) return 0;
  err << "zelka-host: cannot write " << path << "\n";
  return 1;
}

}  // namespace

int scrambleFile(const std::string& in, const std::string& out, std::ostream& err) {
  std::optional<std::string> plain = readInput(in, err);
  if (!plain) return 1;
  if (scrambledHeader(*plain)) {
    err << "zelka-host: " << in << " is already scrambled\n";
    return 1;
  }
  if (!beginsWithHeader(*plain)) {
    err << "zelka-host: " << in << " does not begin with the line "
        << headerBytes().substr(0, headerBytes().size() - 1)
        << " (a file without it is never read)\n";
    return 1;
  }
  std::string scrambled;
  std::size_t failedRead = 0;
  if (!scrambleKnowledgeText(*plain, scrambled, &failedRead)) {
    err << "zelka-host: " << in << " cannot be scrambled: " << unscramblableRead(*plain, failedRead)
        << " holds a byte whose complement the reader would take for a line end or the end of "
           "the text (0xF5, 0xFF, or 0xF2 before a line end)\n";
    return 1;
  }
  if (plain->find("\r\n") != std::string::npos) {
    err << "zelka-host: note: the CR LF line ends of " << in << " are written as LF\n";
  }
  return writeOutput(out, scrambled, err);
}

int unscrambleFile(const std::string& in, const std::string& out, std::ostream& err) {
  std::optional<std::string> scrambled = readInput(in, err);
  if (!scrambled) return 1;
  if (beginsWithHeader(*scrambled)) {
    err << "zelka-host: " << in << " is not scrambled (it begins with the plain header)\n";
    return 1;
  }
  if (!scrambledHeader(*scrambled)) {
    err << "zelka-host: " << in << " is not a scrambled knowledge file (its first line does "
           "not read as the header)\n";
    return 1;
  }
  return writeOutput(out, unscrambleKnowledgeText(*scrambled), err);
}

}  // namespace zelka::host
