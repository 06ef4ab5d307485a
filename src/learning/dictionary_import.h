// Dictionary files ("*.mem" in the vendor directory) teach whole vocabularies. The first line
// is exactly "[ZELKA DICTIONARY]"; every further line, once cleaned up, is empty, a category
// line "[name]" that sets the current category (the default one when the name is empty), or a
// line of words separated by spaces (a double-quoted stretch is part of one word and keeps its
// quotes) that becomes one synonym group under the current category. "//" begins a comment,
// also inside quotes.
//
// Lines are read in pieces of at most 2047 bytes; a longer line goes on in the next piece,
// which counts as a line of its own. A piece never ends inside a two-byte character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zelka {

class KnowledgeSet;

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

// Reads one dictionary file and teaches its lines to the learner. False, with nothing taught,
// when the file cannot be opened, is empty or its first line is not the header; `refusal`,
// when given, then says which, for the author.
bool readDictionary(const std::string& path, std::u16string_view header,
                    DictionaryLearner& learner, std::string* refusal = nullptr);

// Imports one file into the knowledge set, saves the set, then moves the file to
// learnedDirectory + its file name (creating that directory, replacing a file of that name),
// so that a file is never gone before its words are on disk. Answers the knowledge set's save
// result; false when an argument is missing, the file name is empty, or readDictionary
// fails (the file is then left where it is); a file whose words could not be saved is left
// where it is too, to be imported again. The report, when given, tells whether the words
// were taught, saved and whether the file left the vendor directory, and why a file was
// not read.
struct DictionaryImportReport {
  bool imported = false;
  bool saved = false;
  bool moved = false;
  std::string refusal;   // why readDictionary refused the file; empty otherwise
};
bool importDictionary(const std::string& learnedDirectory, const std::string& filePath,
                      std::u16string_view header, KnowledgeSet* knowledge,
                      DictionaryImportReport* report = nullptr);

}  // namespace zelka
