#include "learning/dictionary_import.h"

#include <exception>
#include <optional>

#include "learning/concept_learning.h"
#include "learning/knowledge_set.h"
#include "learning/pending_imports.h"
#include "platform/file_system.h"
#include "platform/text_codec.h"
#include "util/author_text.h"
#include "util/problem_list.h"
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

// Teaches a dictionary to the knowledge set: to the bind network (learnWord) and to the word
// index and neuron network (neuronFor, learnCategory), each part when asked.
//
// With `relearnLostNeurons`, the word index holds this dictionary from an earlier start whose
// neuron network could not be saved: the index entries of its words name neurons that were
// never written. Such aliases are dropped before a word is learned (an entry left with none
// goes too), so that the words are learned as on a first import instead of resolving to
// neurons that do not exist. This is done only while the neuron network is loaded: with no
// network every neuron would look lost.
class ConceptLearner : public DictionaryLearner {
 public:
  ConceptLearner(KnowledgeSet& knowledge, bool bindPart, bool conceptPart,
                 bool relearnLostNeurons)
      : knowledge_(knowledge),
        concepts_(knowledge),
        bindPart_(bindPart),
        conceptPart_(conceptPart),
        relearnLostNeurons_(conceptPart && relearnLostNeurons &&
                            !knowledge.neuronNetwork().structureRoot().empty()) {}
  void neuronFor(std::u16string_view word) override {
    if (!conceptPart_) return;
    forgetLostNeurons(word);
    concepts_.neuronFor(word);
  }
  void learnCategory(std::u16string_view category,
                     const std::vector<std::u16string>& words) override {
    if (!conceptPart_) return;
    forgetLostNeurons(category);
    for (const std::u16string& word : words) forgetLostNeurons(word);
    concepts_.learnCategory(category, {words});
  }
  void learnWord(std::u16string_view word) override {
    if (bindPart_) concepts_.learnWord(word);
  }

 private:
  void forgetLostNeurons(std::u16string_view word) {
    if (!relearnLostNeurons_) return;
    IndexEntry entry = knowledge_.wordIndex().findWord(word).entry;
    if (!entry) return;
    for (const std::u16string& id : entry.aliases()) {
      if (!knowledge_.neuronNetwork().findNeuron(id)) entry.removeAlias(id);
    }
    if (entry.aliases().empty()) {
      XmlNode element = entry.element();
      element.remove();
    }
  }

  KnowledgeSet& knowledge_;
  ConceptLearning concepts_;
  bool bindPart_;
  bool conceptPart_;
  bool relearnLostNeurons_;
};

// The stores that take the bind part and the concept part of a dictionary.
constexpr unsigned kConceptStores = kIndexStore | kNeuronStore;

void report(ProblemList* problems, Problem problem) {
  if (problems != nullptr) problems->report(std::move(problem));
}

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

bool teachDictionary(std::string text, std::u16string_view header, DictionaryLearner& learner,
                     std::string* refusal) {
  auto refuse = [refusal](const char* why) {
    if (refusal != nullptr) *refusal = why;
    return false;
  };
  LinePieces pieces(std::move(text));

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

bool readDictionary(const std::string& path, std::u16string_view header,
                    DictionaryLearner& learner, std::string* refusal) {
  std::optional<std::string> bytes = readFile(path);
  if (!bytes) {
    if (refusal != nullptr) *refusal = "the file cannot be read";
    return false;
  }
  AuthorText text = readAuthorText(std::string(beforeEndOfText(*bytes)));
  if (text.form == AuthorText::Form::kNotConvertible) {
    if (refusal != nullptr) *refusal = "the file is " + describeNotConvertible(text);
    return false;
  }
  return teachDictionary(std::move(text.bytes), header, learner, refusal);
}

bool importDictionary(const std::string& learnedDirectory, const std::string& filePath,
                      std::u16string_view header, KnowledgeSet* knowledge,
                      DictionaryImportReport* importReport,
                      const DictionaryImportContext& context) {
  DictionaryImportReport ignored;
  DictionaryImportReport& out = importReport != nullptr ? *importReport : ignored;
  out = DictionaryImportReport();
  if (learnedDirectory.empty() || filePath.empty() || header.empty() || knowledge == nullptr) {
    return false;
  }
  const std::string fileName = fileNameOf(filePath);
  if (fileName.empty()) return false;
  std::optional<std::string> bytes = readFile(filePath);
  if (!bytes) {
    out.refusal = "the file cannot be read";
    return false;
  }

  AuthorText text = readAuthorText(std::string(beforeEndOfText(*bytes)));
  if (text.form == AuthorText::Form::kNotConvertible) {
    report(context.problems,
           {Problem::Severity::Error,
            text.line == 0 ? filePath : filePath + ":" + std::to_string(text.line),
            describeNotConvertible(text) +
                ": the dictionary was not imported and stays in the vendor directory. Replace "
                "or remove what Shift_JIS cannot write, save the file as Shift_JIS, and it is "
                "imported at the next start."});
    return false;
  }

  // What an earlier start could not save everywhere is taught only to the stores that lack it.
  const PendingImports::Key key = PendingImports::keyOf(fileName, *bytes);
  bytes.reset();
  const unsigned held = context.pending != nullptr ? context.pending->storesHolding(key) : 0;
  const bool bindPart = (held & kBindStore) == 0;
  const bool conceptPart = (held & kConceptStores) != kConceptStores;

  unsigned holding = held;
  if (held != kAllStores) {
    try {
      ConceptLearner learner(*knowledge, bindPart, conceptPart,
                             (held & kIndexStore) != 0 && (held & kNeuronStore) == 0);
      learner.neuronFor(kDefaultCategory);
      if (!teachDictionary(std::move(text.bytes), header, learner, &out.refusal)) return false;
    } catch (const std::exception&) {
      // A store that cannot take the words leaves the file in place, to be read again at the
      // next start.
      return false;
    }
    // The words are saved before the file leaves the vendor directory: a process killed in
    // between then reads the file again at its next start instead of losing its words, and a
    // file whose words could not be saved stays to be imported again.
    holding |= knowledge->saveStores();
  }
  out.imported = true;
  out.saved = holding == kAllStores;
  if (text.form == AuthorText::Form::kConvertedFromUtf8) {
    report(context.problems,
           {Problem::Severity::Warning, filePath,
            "saved as UTF-8; it was imported converted to Shift_JIS. Save dictionaries as "
            "Shift_JIS, the encoding of the module's files."});
  }

  // Recorded before the move too: a process killed before the file has moved then only moves
  // it at the next start.
  if (context.pending != nullptr) context.pending->record(key, holding);
  if (holding != kAllStores) return false;

  makeDirectory(learnedDirectory);   // an existing directory is fine
  const std::string target = learnedDirectory + fileName;
  if (fileExists(target)) deleteFile(target);
  bool done = moveFile(filePath, target);
  // Some file systems report a failed rename that happened all the same.
  if (!done) done = !fileExists(filePath) && fileExists(target);
  out.moved = done;
  if (done && context.pending != nullptr) context.pending->record(key, 0);
  return true;
}

}  // namespace zelka
