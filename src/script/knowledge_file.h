// Knowledge files: the ghost's authored talk. A file begins with a header line and holds
// brace-delimited blocks; each block names a token, optional conditions and an emotion
// limit, and one or more alternative scripts, which become KnowledgeEntry values filed by
// token. Files with the extension "tlk" are plain; "tlc" files store every byte of each
// read complemented except the read's last byte (normally the line feed).
//
// A plain file ends at its first byte 0x1A; a complemented one is read to its end. A file
// saved as UTF-8 is read converted to Shift_JIS, and one holding a character that Shift_JIS
// cannot write is not read at all (see util/author_text.h); either is reported to the author.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "script/knowledge_base.h"

namespace zelka {

class ProblemList;

inline constexpr char16_t kKnowledgeFileHeader[] = u"[ZELKA KNOWLEDGE 2.0]\n";

// Bytes per read of a knowledge file, terminating zero included: a line is read in pieces
// of at most 1,023 bytes.
inline constexpr std::size_t kKnowledgeReadBuffer = 1024;

enum class KnowledgeFileStatus {
  kRead,             // read (possibly with no block in it)
  kMissingArgument,  // empty path or header
  kNoFileName,       // the path names a directory, not a file
  kCannotOpen,
  kEmpty,
  kBadHeader,        // the first line is not the header
  kNotConvertible,   // saved as UTF-8 with characters Shift_JIS cannot write
};

// What reading one file did, for author tools and the log.
struct KnowledgeFileReport {
  KnowledgeFileStatus status = KnowledgeFileStatus::kRead;
  std::size_t blocksCommitted = 0;
  std::size_t entriesAdded = 0;
  std::size_t entriesDropped = 0;  // token or emotion limiter empty after the split
  std::size_t unclosedBraces = 0;  // braces still open at the end of the file (their block is lost)
  bool convertedFromUtf8 = false;  // saved as UTF-8 and read converted
  std::size_t unclosedBlockLine = 0;  // where the block left open begins (0: none)
};

// The fields of a block that the keywords select.
enum class KnowledgeField { kToken, kEmotionLimiter, kScript, kConditional, kConditionalElse };

// Watches the reader walk a file, for author tools that explain what it did with each line
// (zelka-host check). Lines are 1-based lines of the file, the header being line 1. Every
// call does nothing by default; without an observer the reader makes none of these calls.
class KnowledgeFileObserver {
 public:
  virtual ~KnowledgeFileObserver() = default;
  // The reader tested a line inside a block for a keyword at its first position. `text` is
  // the line as tested (tabs as blanks, blank runs collapsed, a brace before it removed);
  // `keyword` is the field its keyword selected, or none. A line whose keyword was removed is
  // tested again at its new first position.
  virtual void lineStart(std::size_t /*line*/, std::u16string_view /*text*/,
                         std::optional<KnowledgeField> /*keyword*/) {}
  // A "{" outside every block opened one.
  virtual void blockOpened(std::size_t /*line*/) {}
  // A "{" or "}" inside a block that did not open or close it; `depth` is the depth after it.
  virtual void innerBrace(std::size_t /*line*/, char16_t /*brace*/, std::size_t /*depth*/) {}
  // The "}" that closed a block: its entries were filed (or dropped) just now.
  virtual void blockClosed(std::size_t /*line*/) {}
  // The end of a line stored its content (non-empty) in a field: inside a block, or outside
  // every block, where it waits for the next block.
  virtual void contentStored(std::size_t /*line*/, KnowledgeField /*field*/,
                             std::u16string_view /*text*/, bool /*insideBlock*/) {}
};

// Reads one knowledge file into `base`. False when the path or header is missing, the path
// has no file name, the file cannot be opened or is empty, it is UTF-8 that cannot be
// converted, or its first line is not the header; true otherwise (also when the file holds
// no block). A file read converted from UTF-8, or refused because it cannot be, is reported
// into `problems` when given.
bool parseKnowledgeFile(const std::u16string& defaultToken, const std::string& path,
                        const std::u16string& header, bool scrambled, KnowledgeBase& base,
                        KnowledgeFileReport* report = nullptr,
                        KnowledgeFileObserver* observer = nullptr,
                        ProblemList* problems = nullptr);

// Cleans the texts (tabs to blanks, blank runs collapsed outside quotes), splits the token
// line at blanks and files one entry under its first word, with the second word as the
// emotion limit. False (nothing filed) when the split yields fewer than two pieces or one of
// the first two is empty.
// The entry remembers the lines it was written on (0: not known).
bool addKnowledgeEntry(const std::string& fileName, std::u16string tokenLine,
                       std::u16string conditional, std::u16string conditionalElse,
                       std::u16string script, KnowledgeBase& base, std::size_t blockLine = 0,
                       std::size_t scriptLine = 0);

// Complements every byte of one read except its last; applying it twice restores the read.
void complementRead(std::string& piece);

// Author tools: converts a whole file's content between the two forms, read by read as the
// reader reads it (so CR LF line ends become LF, and scrambling stops where a plain file ends,
// at a byte 0x1A). Scrambling fails when the result would not
// read back as the same text: a byte 0xF5 inside a line complements to a line feed, which
// would end the read early. `failedRead` then gets the 1-based number of the read.
bool scrambleKnowledgeText(std::string_view plain, std::string& scrambled,
                           std::size_t* failedRead = nullptr);
std::string unscrambleKnowledgeText(std::string_view scrambled);

}  // namespace zelka
