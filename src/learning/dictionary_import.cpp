#include "learning/dictionary_import.h"

#include <exception>
#include <optional>

#include "learning/concept_learning.h"
#include "learning/knowledge_set.h"
#include "platform/file_system.h"
#include "platform/text_codec.h"
#include "util/text.h"

namespace zelka {
namespace {

bool isLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Hands out the lines of a file's bytes the way a text-mode read into a 2048-byte buffer does:
// CR LF reads as LF, a line ends after its LF, and a read takes at most 2047 bytes. A read
// that would end between the two bytes of a character ends before it instead.
class LinePieces {
 public:
  explicit LinePieces(std::string bytes) : bytes_(std::move(bytes)) {}

  std::optional<std::string> next() {
    if (pos_ >= bytes_.size()) return std::nullopt;
    std::string piece;
    std::size_t leadPending = 0;   // 1 while the last byte taken opens a two-byte character
    while (pos_ < bytes_.size() && piece.size() < kDictionaryLineBytes) {
      char c = bytes_[pos_];
      if (c == '\r' && pos_ + 1 < bytes_.size() && bytes_[pos_ + 1] == '\n') {
        ++pos_;
        c = '\n';
      }
      piece += c;
      ++pos_;
      if (c == '\n') return piece;
      leadPending = (leadPending == 0 && isLeadByte(static_cast<unsigned char>(c))) ? 1 : 0;
    }
    if (leadPending == 1 && piece.size() > 1 && pos_ < bytes_.size()) {
      piece.pop_back();
      --pos_;
    }
    return piece;
  }

 private:
  std::string bytes_;
  std::size_t pos_ = 0;
};

// A piece as the C string it is read into: a zero byte ends it.
std::u16string widen(std::string piece) {
  std::size_t nul = piece.find('\0');
  if (nul != std::string::npos) piece.resize(nul);
  return toWide(piece);
}

// Teaches a dictionary to the knowledge set.
class ConceptLearner : public DictionaryLearner {
 public:
  explicit ConceptLearner(KnowledgeSet& knowledge) : concepts_(knowledge) {}
  void neuronFor(std::u16string_view word) override { concepts_.neuronFor(word); }
  void learnCategory(std::u16string_view category,
                     const std::vector<std::u16string>& words) override {
    concepts_.learnCategory(category, {words});
  }
  void learnWord(std::u16string_view word) override { concepts_.learnWord(word); }

 private:
  ConceptLearning concepts_;
};

}  // namespace

std::u16string cleanDictionaryLine(std::u16string_view line) {
  std::u16string text(line.substr(0, line.find(u'\n')));
  std::size_t comment = text.find(u"//");
  if (comment != std::u16string::npos) text.resize(comment);
  tabsToSpaces(text);
  collapseSpaces(text);
  return text;
}

std::u16string dictionaryCategory(std::u16string_view cleanedLine) {
  std::u16string name(cleanedLine.substr(cleanedLine.empty() ? 0 : 1));
  std::size_t close = name.rfind(u']');
  if (close != std::u16string::npos && close != 0) name.erase(close, 1);
  name = cleanDictionaryLine(name);
  if (name.empty()) return std::u16string(kDefaultCategory);
  return name;
}

bool readDictionary(const std::string& path, std::u16string_view header,
                    DictionaryLearner& learner, std::string* refusal) {
  auto refuse = [refusal](const char* why) {
    if (refusal != nullptr) *refusal = why;
    return false;
  };
  std::optional<std::string> bytes = readFile(path);
  if (!bytes) return refuse("the file cannot be read");
  LinePieces pieces(std::move(*bytes));

  std::optional<std::string> first = pieces.next();
  if (!first) return refuse("the file is empty");
  if (widen(std::move(*first)) != header) {
    return refuse("its first line is not exactly \"[ZELKA DICTIONARY]\"");
  }

  std::u16string category(kDefaultCategory);
  while (std::optional<std::string> piece = pieces.next()) {
    std::u16string line = widen(std::move(*piece));
    if (line.empty()) continue;
    line = cleanDictionaryLine(line);
    if (line.empty()) continue;
    if (line.front() == u'[') {
      category = dictionaryCategory(line);
      learner.neuronFor(category);
      learner.learnWord(category);
      continue;
    }
    std::vector<std::u16string> words;
    splitQuoted(line, u" ", words);
    if (words.empty()) words.push_back(line);
    learner.learnCategory(category, words);
    for (const std::u16string& word : words) learner.learnWord(word);
  }
  return true;
}

bool importDictionary(const std::string& learnedDirectory, const std::string& filePath,
                      std::u16string_view header, KnowledgeSet* knowledge,
                      DictionaryImportReport* report) {
  DictionaryImportReport ignored;
  if (report == nullptr) report = &ignored;
  *report = DictionaryImportReport();
  if (learnedDirectory.empty() || filePath.empty() || header.empty() || knowledge == nullptr) {
    return false;
  }
  const std::string fileName = fileNameOf(filePath);
  if (fileName.empty()) return false;

  try {
    ConceptLearner learner(*knowledge);
    learner.neuronFor(kDefaultCategory);
    if (!readDictionary(filePath, header, learner, &report->refusal)) return false;
  } catch (const std::exception&) {
    // A store that cannot take the words leaves the file in place, to be read again at the
    // next start.
    return false;
  }
  report->imported = true;

  // The words are saved before the file leaves the vendor directory: a process killed in
  // between then reads the file again at its next start instead of losing its words, and a
  // file whose words could not be saved stays to be imported again.
  const bool saved = knowledge->save();
  report->saved = saved;
  if (!saved) return false;

  makeDirectory(learnedDirectory);   // an existing directory is fine
  const std::string target = learnedDirectory + fileName;
  if (fileExists(target)) deleteFile(target);
  bool done = moveFile(filePath, target);
  // Some file systems report a failed rename that happened all the same.
  if (!done) done = !fileExists(filePath) && fileExists(target);
  report->moved = done;
  return saved;
}

}  // namespace zelka
