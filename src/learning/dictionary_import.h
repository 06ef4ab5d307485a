// Dictionary files ("*.mem" in the vendor directory) teach whole vocabularies. The first line
// is exactly "[ZELKA DICTIONARY]"; every further line, once cleaned up, is empty, a category
// line "[name]" that sets the current category (the default one when the name is empty), or a
// line of words separated by spaces (a double-quoted stretch is part of one word and keeps its
// quotes) that becomes one synonym group under the current category. "//" begins a comment,
// also inside quotes.
//
// Lines are read in pieces of at most 2047 bytes; a longer line goes on in the next piece,
// which counts as a line of its own. A piece never ends inside a two-byte character.
//
// A file ends at its first byte 0x1A. A file saved as UTF-8 is read converted to Shift_JIS;
// one holding a character that Shift_JIS cannot write is not read at all, so that no
// garbled word ever reaches the stores (see util/author_text.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zelka {

class KnowledgeSet;
class PendingImports;
class ProblemList;

// The category of words that precede any category line, and of an empty category line.
inline constexpr std::u16string_view kDefaultCategory = u"カオスデバイス";
// The first line of every dictionary file, line break included.
inline constexpr std::u16string_view kDictionaryHeader = u"[ZELKA DICTIONARY]\n";
// The most bytes one read of a line takes.
inline constexpr std::size_t kDictionaryLineBytes = 2047;

// What a dictionary teaches, line by line; the knowledge set's concept learning in the real
// import, a recorder in tests.
class DictionaryLearner {
 public:
  virtual ~DictionaryLearner() = default;
  virtual void neuronFor(std::u16string_view word) = 0;
  virtual void learnCategory(std::u16string_view category,
                             const std::vector<std::u16string>& words) = 0;
  virtual void learnWord(std::u16string_view word) = 0;
};

// Cuts at the first line feed and at the first "//", turns tabs into spaces, removes leading
// spaces and collapses runs of spaces outside double quotes (a trailing space stays).
std::u16string cleanDictionaryLine(std::u16string_view line);

// The category a cleaned line beginning with "[" names: the rest after the "[", without its
// last "]" unless that is the rest's first character, cleaned again; the default category
// when that is empty.
std::u16string dictionaryCategory(std::u16string_view cleanedLine);

// Teaches the lines of a dictionary's text (Shift_JIS, as read) to the learner. False, with
// nothing taught, when the text is empty or its first line is not the header; `refusal`, when
// given, then says which.
bool teachDictionary(std::string text, std::u16string_view header, DictionaryLearner& learner,
                     std::string* refusal = nullptr);

// Reads one dictionary file and teaches its lines to the learner. False, with nothing taught,
// when the file cannot be opened, is empty, cannot be converted from UTF-8 or its first line
// is not the header; `refusal`, when given, then says which, for the author.
bool readDictionary(const std::string& path, std::u16string_view header,
                    DictionaryLearner& learner, std::string* refusal = nullptr);

// Imports one file into the knowledge set, saves the set, then moves the file to
// learnedDirectory + its file name (creating that directory, replacing a file of that name),
// so that a file is never gone before its words are on disk. Answers the knowledge set's save
// result; false when an argument is missing, the file name is empty, or readDictionary
// fails (the file is then left where it is); a file whose words could not be saved is left
// where it is too, to be imported again. The report, when given, tells whether the words
// were taught, saved in every store and whether the file left the vendor directory, and why
// a file was not read.
//
// With a record of pending imports, a file that some stores could not save is recorded with
// the stores that did, and the next import of the same file teaches only the others: the bind
// network's part (which counts every passage) is never taught twice; the word index and the
// neuron network, whose entries refer to each other, are taught together while either lacks
// the file (teaching them again what they hold adds nothing, a store that failed to load took
// nothing, and index entries naming neurons that were never saved are learned afresh). The
// file moves once all four stores hold it.
// Problems for the author (a file read converted from UTF-8, or refused because it cannot
// be) go into `problems` when given.
struct DictionaryImportReport {
  bool imported = false;
  bool saved = false;
  bool moved = false;
  // Why the file was refused, for the author; empty when it was read, or when the refusal
  // went to the problems already with more detail (a character Shift_JIS cannot write).
  std::string refusal;
};
struct DictionaryImportContext {
  PendingImports* pending = nullptr;
  ProblemList* problems = nullptr;
};
bool importDictionary(const std::string& learnedDirectory, const std::string& filePath,
                      std::u16string_view header, KnowledgeSet* knowledge,
                      DictionaryImportReport* report = nullptr,
                      const DictionaryImportContext& context = {});

}  // namespace zelka
