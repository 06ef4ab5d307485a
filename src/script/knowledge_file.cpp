// The knowledge file reader: a line walk that keeps its state (quote, brace depth, current
// field) across lines, and commits one block at its closing brace.
#include "script/knowledge_file.h"

#include <optional>
#include <vector>

#include "platform/file_system.h"
#include "platform/text_codec.h"
#include "util/author_text.h"
#include "util/line_reader.h"
#include "util/number_text.h"
#include "util/problem_list.h"
#include "util/text.h"

namespace zelka {
namespace {

using Field = KnowledgeField;

struct Keyword {
  std::u16string_view text;
  Field field;
};

// In the order they are tested.
constexpr Keyword kKeywords[] = {
    {u"token:", Field::kToken},
    {u"emotionlimiter:", Field::kEmotionLimiter},
    {u"script:", Field::kScript},
    {u"conditional:", Field::kConditional},
    {u"conditionalelse:", Field::kConditionalElse},
};

// A read is handled as the C string it would be: it ends at a zero byte.
void cutAtZero(std::string& piece) {
  std::size_t zero = piece.find('\0');
  if (zero != std::string::npos) piece.resize(zero);
}

class KnowledgeFileParser {
 public:
  KnowledgeFileParser(const std::u16string& defaultToken, std::string fileName,
                      KnowledgeBase& base, KnowledgeFileReport& report,
                      KnowledgeFileObserver* observer)
      : defaultToken_(defaultToken), fileName_(std::move(fileName)), base_(base),
        report_(report), observer_(observer) {}

  // One read of the file, from the given 1-based line of the file.
  void line(std::u16string text, std::size_t lineNumber) {
    lineNumber_ = lineNumber;
    tabsToSpaces(text);
    collapseSpaces(text);
    std::size_t stop = walk(text);
    std::u16string& field = target();
    if (observer_ && stop > 0) {
      observer_->contentStored(lineNumber_, target_, std::u16string_view(text).substr(0, stop),
                               depth_ > 0);
    }
    field.append(text, 0, stop);
    if (field.empty()) return;
    if (target_ == Field::kScript && scriptLine_ == 0) scriptLine_ = lineNumber_;
    // Trailing blanks go, except one escaped by a backslash.
    while (!field.empty() && field.back() == u' ' &&
           !(field.size() >= 2 && field[field.size() - 2] == u'\\')) {
      field.pop_back();
    }
    field += joiner_;
  }

  std::size_t openBraces() const { return depth_; }
  std::size_t openBlockLine() const { return depth_ > 0 ? blockLine_ : 0; }

 private:
  // Walks one cleaned line; returns where its content stops.
  std::size_t walk(std::u16string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
      char16_t c = text[i];
      if (inQuote_) {
        if (c == u'"') inQuote_ = false;
        ++i;
        continue;
      }
      if (c == u'"') {
        inQuote_ = true;
        ++i;
        continue;
      }
      bool slashNext = i + 1 < text.size() && text[i + 1] == u'/';
      if (c == u'\\' && slashNext) {
        text.erase(i, 1);  // "\/" is a literal slash
        ++i;
        continue;
      }
      if (c == u'/' && slashNext) return i;  // comment
      if (c == u'\n') return i;
      if (depth_ == 0) {
        if (c == u'{') {
          text.erase(i, 1);
          depth_ = 1;
          blockLine_ = lineNumber_;
          if (observer_) observer_->blockOpened(lineNumber_);
        } else {
          ++i;
        }
        continue;
      }
      if (c == u'{') {
        ++depth_;
        if (observer_) observer_->innerBrace(lineNumber_, c, depth_);
        ++i;
        continue;
      }
      if (c == u'}') {
        if (--depth_ == 0) {
          commit();
          if (observer_) observer_->blockClosed(lineNumber_);
          text.erase(i, 1);
        } else {
          if (observer_) observer_->innerBrace(lineNumber_, c, depth_);
          ++i;
        }
        continue;
      }
      if (i == 0) {
        std::optional<Field> selected = selectKeyword(text);
        if (observer_) observer_->lineStart(lineNumber_, text, selected);
        if (selected) {
          text.erase(0, keywordLength(*selected));
          collapseSpaces(text);
          continue;  // restart at position 0
        }
      }
      ++i;
    }
    return text.size();
  }

  static std::size_t keywordLength(Field field) {
    for (const Keyword& keyword : kKeywords) {
      if (keyword.field == field) return keyword.text.size();
    }
    return 0;
  }

  // Selects the field of a keyword at the start of the text (the caller removes the keyword).
  std::optional<Field> selectKeyword(const std::u16string& text) {
    for (const Keyword& keyword : kKeywords) {
      if (text.compare(0, keyword.text.size(), keyword.text) != 0) continue;
      joiner_.clear();
      if (keyword.field == Field::kScript) {
        if (!script_.empty()) alternatives_.push_back({std::move(script_), scriptLine_});
        script_.clear();
        scriptLine_ = 0;  // set by the script's first content
      }
      if (keyword.field == Field::kScript || keyword.field == Field::kConditional) {
        joiner_ = u"\n";
      }
      target_ = keyword.field;
      return keyword.field;
    }
    return std::nullopt;
  }

  std::u16string& target() {
    switch (target_) {
      case Field::kToken: return token_;
      case Field::kEmotionLimiter: return emotionLimiter_;
      case Field::kConditional: return conditional_;
      case Field::kConditionalElse: return conditionalElse_;
      case Field::kScript: break;
    }
    return script_;
  }

  void commit() {
    if (token_.empty()) token_ = defaultToken_;
    if (emotionLimiter_.empty()) emotionLimiter_ = u"0";
    if (conditional_.empty()) conditional_ = u"1";
    std::u16string tokenLine = token_ + u" " + emotionLimiter_ + u" ";
    alternatives_.push_back({std::move(script_), scriptLine_});
    for (Alternative& alternative : alternatives_) {
      if (addKnowledgeEntry(fileName_, tokenLine, conditional_, conditionalElse_,
                            std::move(alternative.script), base_, blockLine_,
                            alternative.line)) {
        ++report_.entriesAdded;
      } else {
        ++report_.entriesDropped;
      }
    }
    ++report_.blocksCommitted;
    token_.clear();
    emotionLimiter_.clear();
    conditional_.clear();
    conditionalElse_.clear();
    script_.clear();
    scriptLine_ = 0;
    alternatives_.clear();
    joiner_ = u"\n";
  }

  const std::u16string& defaultToken_;
  const std::string fileName_;
  KnowledgeBase& base_;
  KnowledgeFileReport& report_;
  KnowledgeFileObserver* const observer_;

  bool inQuote_ = false;
  std::size_t depth_ = 0;
  Field target_ = Field::kScript;
  std::u16string joiner_ = u"\n";
  std::u16string token_, emotionLimiter_, script_, conditional_, conditionalElse_;
  struct Alternative {
    std::u16string script;
    std::size_t line;
  };
  std::vector<Alternative> alternatives_;
  std::size_t lineNumber_ = 0;  // the line being walked
  std::size_t blockLine_ = 0;   // the open block's brace
  std::size_t scriptLine_ = 0;  // the first line of the script being collected
};

// The bytes the reader works on for one read: cut at a zero byte, complemented back when
// the file is scrambled (and cut again, as the complemented text is a C string too).
void prepareRead(std::string& piece, bool scrambled) {
  cutAtZero(piece);
  if (scrambled) {
    complementRead(piece);
    cutAtZero(piece);
  }
}

// The text the reader walks: a plain file up to its end-of-text byte; a file saved as UTF-8
// converted to Shift_JIS (judged on the text as written, so a complemented file is
// complemented back first). `scrambled` tells whether the text is still complemented.
AuthorText knowledgeText(std::string bytes, bool& scrambled) {
  if (!scrambled) return readAuthorText(std::string(beforeEndOfText(bytes)));
  AuthorText text = readAuthorText(unscrambleKnowledgeText(bytes));
  if (text.form == AuthorText::Form::kAsSaved) {
    // Read as stored, read by read, as it always was.
    text.bytes = std::move(bytes);
  } else {
    scrambled = false;
  }
  return text;
}

void reportEncoding(const AuthorText& text, const std::string& path, ProblemList* problems) {
  if (problems == nullptr) return;
  if (text.form == AuthorText::Form::kConvertedFromUtf8) {
    problems->report({Problem::Severity::Warning, path,
                      "saved as UTF-8; it was read converted to Shift_JIS. Save it as "
                      "Shift_JIS, the encoding of the module's files."});
  } else if (text.form == AuthorText::Form::kNotConvertible) {
    problems->report(
        {Problem::Severity::Error,
         text.line == 0 ? path : path + ":" + std::to_string(text.line),
         describeNotConvertible(text) +
             ": the file was not read. Replace or remove what Shift_JIS cannot write, and "
             "save the file as Shift_JIS."});
  }
}

}  // namespace

void complementRead(std::string& piece) {
  if (piece.empty()) return;
  for (std::size_t i = 0; i + 1 < piece.size(); ++i) piece[i] = static_cast<char>(~piece[i]);
}

bool addKnowledgeEntry(const std::string& fileName, std::u16string tokenLine,
                       std::u16string conditional, std::u16string conditionalElse,
                       std::u16string script, KnowledgeBase& base, std::size_t blockLine,
                       std::size_t scriptLine) {
  for (std::u16string* text : {&tokenLine, &conditional, &conditionalElse, &script}) {
    tabsToSpaces(*text);
    collapseSpaces(*text);
  }
  std::vector<std::u16string> words;
  splitQuoted(std::u16string_view(tokenLine), u" ", words);
  if (words.size() < 2 || words[0].empty() || words[1].empty()) return false;
  KnowledgeEntry entry;
  entry.token = toNarrow(words[0]);
  entry.emotionLimit = parseInt32Prefix(toNarrow(words[1]));
  entry.script = toNarrow(script);
  entry.source = fileName;
  entry.conditionalElse = toNarrow(conditionalElse);
  entry.conditional = toNarrow(conditional);
  entry.blockLine = blockLine;
  entry.scriptLine = scriptLine;
  std::string key = entry.token;
  base.emplace(std::move(key), std::move(entry));  // after the equal keys already filed
  return true;
}

bool parseKnowledgeFile(const std::u16string& defaultToken, const std::string& path,
                        const std::u16string& header, bool scrambled, KnowledgeBase& base,
                        KnowledgeFileReport* report, KnowledgeFileObserver* observer,
                        ProblemList* problems) {
  KnowledgeFileReport local;
  KnowledgeFileReport& out = report ? *report : local;
  out = KnowledgeFileReport{};
  auto fail = [&](KnowledgeFileStatus status) {
    out.status = status;
    return false;
  };
  if (path.empty() || header.empty()) return fail(KnowledgeFileStatus::kMissingArgument);
  std::string fileName = fileNameOf(path);
  if (fileName.empty()) return fail(KnowledgeFileStatus::kNoFileName);

  std::optional<std::string> bytes = readFile(path);
  if (!bytes) return fail(KnowledgeFileStatus::kCannotOpen);
  AuthorText text = knowledgeText(std::move(*bytes), scrambled);
  if (text.form == AuthorText::Form::kNotConvertible) {
    reportEncoding(text, path, problems);
    return fail(KnowledgeFileStatus::kNotConvertible);
  }

  LineReader reader = LineReader::fromText(std::move(text.bytes), kKnowledgeReadBuffer);
  std::string piece;
  if (!reader.readLine(piece)) return fail(KnowledgeFileStatus::kEmpty);
  prepareRead(piece, scrambled);
  if (toWide(piece) != header) return fail(KnowledgeFileStatus::kBadHeader);
  if (text.form == AuthorText::Form::kConvertedFromUtf8) {
    out.convertedFromUtf8 = true;
    reportEncoding(text, path, problems);
  }

  KnowledgeFileParser parser(defaultToken, fileName, base, out, observer);
  std::size_t lineNumber = 2;  // the header is line 1
  while (reader.readLine(piece)) {
    // A long line comes in several reads; only the read that ends it moves to the next line.
    const std::size_t thisLine = lineNumber;
    if (!piece.empty() && piece.back() == '\n') ++lineNumber;
    prepareRead(piece, scrambled);
    if (piece.empty()) continue;
    parser.line(toWide(piece), thisLine);
  }
  out.unclosedBraces = parser.openBraces();
  out.unclosedBlockLine = parser.openBlockLine();
  return true;
}

bool scrambleKnowledgeText(std::string_view plain, std::string& scrambled,
                           std::size_t* failedRead) {
  scrambled.clear();
  std::vector<std::string> reads;
  LineReader plainReader =
      LineReader::fromText(std::string(beforeEndOfText(plain)), kKnowledgeReadBuffer);
  std::string piece;
  while (plainReader.readLine(piece)) {
    reads.push_back(piece);
    complementRead(piece);
    scrambled += piece;
  }
  // Read the result back as the reader will and compare what it sees.
  LineReader check = LineReader::fromText(scrambled, kKnowledgeReadBuffer);
  std::size_t index = 0;
  for (;; ++index) {
    bool more = check.readLine(piece);
    if (!more || index >= reads.size()) {
      if (more || index < reads.size()) break;
      return true;
    }
    std::string expected = reads[index];
    cutAtZero(expected);
    prepareRead(piece, true);
    if (piece != expected) break;
  }
  if (failedRead) *failedRead = index + 1;
  scrambled.clear();
  return false;
}

std::string unscrambleKnowledgeText(std::string_view scrambled) {
  std::string plain;
  LineReader reader = LineReader::fromText(std::string(scrambled), kKnowledgeReadBuffer);
  std::string piece;
  while (reader.readLine(piece)) {
    complementRead(piece);
    plain += piece;
  }
  return plain;
}

}  // namespace zelka
