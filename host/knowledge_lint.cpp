#include "knowledge_lint.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <string_view>

#include "name_suggestion.h"
#include "platform/file_system.h"
#include "platform/text_codec.h"
#include "script/event_names.h"
#include "script/formula_syntax.h"
#include "script/meta_elements.h"
#include "script/script_parser.h"
#include "terminal_text.h"
#include "util/author_text.h"
#include "util/line_reader.h"
#include "util/text.h"
#include "util/text_encoding.h"

namespace zelka::host {

namespace {

// Lines of one file reported as not Shift_JIS before the rest are only counted.
constexpr std::size_t kEncodingLinesShown = 5;

// "%" names that hosts expand themselves besides the ones the element table passes on.
constexpr std::string_view kHostVariables[] = {"selfname", "friendname", "charname",
                                               "wronghour"};

constexpr std::string_view kKeywordTexts[] = {"token:", "emotionlimiter:", "script:",
                                              "conditional:", "conditionalelse:"};

std::string fieldName(KnowledgeField field) {
  switch (field) {
    case KnowledgeField::kToken: return "token";
    case KnowledgeField::kEmotionLimiter: return "emotion limiter";
    case KnowledgeField::kScript: return "script";
    case KnowledgeField::kConditional: return "conditional";
    case KnowledgeField::kConditionalElse: return "conditional-else";
  }
  return "script";
}

std::string display(std::u16string_view wide) { return utf16ToUtf8(wide); }
std::string display(std::string_view narrow) { return shiftJisToDisplay(narrow); }

std::string shortened(std::string text, std::size_t limit = 40) {
  if (text.size() <= limit) return text;
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut) + "...";
}

std::u16string_view trimmedBlanks(std::u16string_view text) {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

std::string firstWord(std::u16string_view text) {
  text = trimmedBlanks(text);
  return display(text.substr(0, text.find(u' ')));
}

std::string hexByte(unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(byte));
  return text;
}

// Characters (a double-byte character counting one) before a byte offset of a Shift_JIS line.
std::size_t charactersBefore(std::string_view line, std::size_t offset) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < offset && i < line.size(); ++count) {
    const std::size_t length = shiftJisCharLength(line, i);
    i += length == 0 ? 1 : length;
  }
  return count;
}

// The next place `head` (an element's kind and name) is written in the text from `from`,
// not as the start of a longer name.
std::size_t findHead(std::u16string_view text, std::u16string_view head, std::size_t from) {
  if (head.empty()) return std::u16string_view::npos;
  for (std::size_t at = text.find(head, from); at != std::u16string_view::npos;
       at = text.find(head, at + 1)) {
    const std::size_t end = at + head.size();
    const char16_t next = end < text.size() ? text[end] : u' ';
    const bool nameGoesOn = (next >= u'a' && next <= u'z') || (next >= u'A' && next <= u'Z') ||
                            (next >= u'0' && next <= u'9') || next == u'_' || next == u'?';
    if (!nameGoesOn || head.size() == 1) return at;
  }
  return std::u16string_view::npos;
}

}  // namespace

// The lines of a file as its reader sees them (complemented back when scrambled), for
// columns and the encoding check.
struct KnowledgeLint::FileText {
  std::string content;
  std::vector<std::string_view> lines;  // without their line ends; lines[0] is line 1

  std::u16string wideLine(std::size_t line) const {
    if (line == 0 || line > lines.size()) return {};
    return toWide(lines[line - 1]);
  }
  // The 1-based column where `head` begins in the line, searching from `from`; 0 if absent.
  std::size_t column(std::size_t line, std::u16string_view head) const {
    const std::u16string wide = wideLine(line);
    const std::size_t at = findHead(wide, head, 0);
    return at == std::u16string::npos ? 0 : at + 1;
  }
};

namespace {

// Builds the structure findings of one file from what its reader does.
class StructureObserver : public KnowledgeFileObserver {
 public:
  StructureObserver(std::string file, Findings& findings,
                    std::map<std::size_t, std::size_t>& conditionalLines,
                    std::map<std::size_t, bool>& blocksWithErrors)
      : file_(std::move(file)), findings_(findings), conditionalLines_(conditionalLines),
        blocksWithErrors_(blocksWithErrors) {}

  void lineStart(std::size_t line, std::u16string_view text,
                 std::optional<KnowledgeField> keyword) override {
    if (keyword) {
      keywordLine_ = line;
      field_ = *keyword;
      if (*keyword == KnowledgeField::kScript) scriptKeyword_ = true;
      if (*keyword == KnowledgeField::kConditional) conditionalLines_[blockLine_] = line;
      if (*keyword == KnowledgeField::kToken && depth_ >= 2) swallowedToken_ = true;
      return;
    }
    if (keywordLine_ == line) return;  // the rest of a keyword's line
    const std::u16string_view rest = trimmedBlanks(text);
    for (std::string_view keywordText : kKeywordTexts) {
      if (rest.size() < keywordText.size()) continue;
      if (display(rest.substr(0, keywordText.size())) != keywordText) continue;
      if (rest.size() == text.size()) continue;  // at the start after all
      error(line, "\"" + std::string(keywordText) +
                      "\" is not at the start of the line (a blank or a \"{\" stands before "
                      "it), so it is not read as a keyword but as text of the " +
                      fieldName(field_) + "; start the line with it");
      return;
    }
    // An ASCII word and a colon close to a keyword: a misspelt one.
    std::size_t length = 0;
    while (length < rest.size() && rest[length] < 0x80 &&
           ((rest[length] | 0x20) >= u'a' && (rest[length] | 0x20) <= u'z')) {
      ++length;
    }
    if (length == 0 || length >= rest.size() || rest[length] != u':') return;
    const std::string word = display(rest.substr(0, length + 1));
    std::vector<std::string> keywords(std::begin(kKeywordTexts), std::end(kKeywordTexts));
    if (std::optional<std::string> meant = closestName(word, keywords)) {
      error(line, "unknown keyword \"" + word + "\"; did you mean \"" + *meant +
                      "\"? The line is read as text of the " + fieldName(field_));
    }
  }

  void blockOpened(std::size_t line) override {
    for (const Stray& stray : strays_) {
      reportStray(stray, "it becomes part of the " + fieldName(stray.field) +
                             " of the next block (line " + std::to_string(line) + ")");
    }
    strayIntoBlock_ = !strays_.empty();
    strays_.clear();
    depth_ = 1;
    blockLine_ = line;
    scriptKeyword_ = false;
    scriptContent_ = false;
    token_.clear();
    swallowed_.clear();
  }

  void innerBrace(std::size_t line, char16_t brace, std::size_t depth) override {
    depth_ = depth;
    if (brace == u'{' && depth == 2) innerOpenLine_ = line;
  }

  void blockClosed(std::size_t line) override {
    depth_ = 0;
    closeLine_ = line;
    // A block that got its text from outside has that reported already.
    if (!scriptKeyword_ && !strayIntoBlock_) {
      const std::string token = token_.empty() ? "the default token" : token_;
      if (scriptContent_) {
        warning(blockLine_, "this block has no \"script:\" line: its text becomes the script "
                            "only because the block before it ended in its script; begin "
                            "the talk with \"script:\"");
      } else {
        error(blockLine_, "this block has no \"script:\" line: its entry under " + token +
                              " talks nothing, yet takes its turn when " + token +
                              " is chosen; add \"script:\" before the talk");
      }
    }
  }

  void contentStored(std::size_t line, KnowledgeField field, std::u16string_view text,
                     bool insideBlock) override {
    if (trimmedBlanks(text).empty()) return;
    if (!insideBlock) {
      strays_.push_back({line, field, line == closeLine_});
      return;
    }
    if (field == KnowledgeField::kScript) scriptContent_ = true;
    if (field == KnowledgeField::kToken) {
      if (swallowedToken_) {
        swallowed_.push_back({innerOpenLine_, firstWord(text)});
        swallowedToken_ = false;
      } else if (token_.empty()) {
        token_ = firstWord(text);
      }
    }
  }

  // After the last line: what the end of the file leaves unfinished.
  void finish(std::size_t unclosedBraces) {
    if (unclosedBraces > 0) {
      std::string message = "this block's \"{\" is never closed: the block";
      if (swallowed_.empty()) {
        message += " and everything after it is lost; a \"}\" is missing at its end";
      } else {
        message += " and the blocks after it are lost (";
        for (std::size_t i = 0; i < swallowed_.size(); ++i) {
          if (i == 4 && swallowed_.size() > 5) {
            message += ", and " + std::to_string(swallowed_.size() - 4) + " more";
            break;
          }
          if (i > 0) message += ", ";
          message += "line " + std::to_string(swallowed_[i].line) + " " + swallowed_[i].token;
        }
        message += "); a \"}\" is missing before line " + std::to_string(swallowed_[0].line);
      }
      error(blockLine_, message);
    }
    for (const Stray& stray : strays_) reportStray(stray, "no block follows, so it is lost");
  }

 private:
  struct Stray {
    std::size_t line;
    KnowledgeField field;
    bool afterClose;  // a "}" closed a block on the same line
  };
  struct Swallowed {
    std::size_t line;
    std::string token;
  };

  void reportStray(const Stray& stray, const std::string& where) {
    if (stray.afterClose) {
      error(stray.line, "the \"}\" on this line closes the block before the line's text is "
                        "stored: the text is outside the block, and " + where +
                        "; put the \"}\" on a line of its own");
    } else {
      error(stray.line, "text outside a block: " + where);
    }
  }

  void error(std::size_t line, std::string message) {
    if (depth_ > 0) blocksWithErrors_[blockLine_] = true;
    findings_.error(file_, line, std::move(message));
  }
  void warning(std::size_t line, std::string message) {
    findings_.warning(file_, line, std::move(message));
  }

  std::string file_;
  Findings& findings_;
  std::map<std::size_t, std::size_t>& conditionalLines_;
  std::map<std::size_t, bool>& blocksWithErrors_;
  KnowledgeField field_ = KnowledgeField::kScript;  // the field the reader fills
  std::size_t depth_ = 0;
  std::size_t blockLine_ = 0;
  std::size_t closeLine_ = 0;
  std::size_t keywordLine_ = 0;
  std::size_t innerOpenLine_ = 0;
  bool scriptKeyword_ = false;
  bool scriptContent_ = false;
  bool swallowedToken_ = false;
  bool strayIntoBlock_ = false;
  std::string token_;
  std::vector<Swallowed> swallowed_;
  std::vector<Stray> strays_;
};

}  // namespace

KnowledgeLint::KnowledgeLint(std::string ghostDirectory, const ZelkaConfig& config,
                             Findings& findings)
    : dir_(std::move(ghostDirectory)), config_(config), findings_(findings) {}

KnowledgeLint::~KnowledgeLint() = default;

std::string KnowledgeLint::relative(const std::string& path) const {
  std::string rel = path.starts_with(dir_) ? path.substr(dir_.size()) : path;
  return shiftJisToDisplay(rel);
}

namespace {

// Why the reader refused a file, as precisely as its first line tells.
std::string rejection(const std::string& path, bool scrambled, KnowledgeFileStatus status) {
  switch (status) {
    case KnowledgeFileStatus::kCannotOpen: return "cannot open the file";
    case KnowledgeFileStatus::kEmpty: return "the file is empty";
    case KnowledgeFileStatus::kMissingArgument:
    case KnowledgeFileStatus::kNoFileName: return "not a file";
    case KnowledgeFileStatus::kNotConvertible:
      return "the file is saved as UTF-8 and holds characters Shift_JIS cannot write: the "
             "module does not read it; replace them and save the file as Shift_JIS";
    case KnowledgeFileStatus::kBadHeader:
    case KnowledgeFileStatus::kRead: break;
  }
  const std::string header = toNarrow(kKnowledgeFileHeader);
  const std::string headerText = header.substr(0, header.size() - 1);
  LineReader reader(path, kKnowledgeReadBuffer);
  std::string first;
  reader.readLine(first);
  std::string complemented = first;
  complementRead(complemented);
  std::string asRead = scrambled ? complemented : first;
  const std::string& other = scrambled ? first : complemented;
  if (first.starts_with(kUtf8ByteOrderMark)) {
    return "the file begins with a UTF-8 byte order mark, so its first line is not the "
           "header: save it as Shift_JIS without one";
  }
  if (asRead == headerText) {
    return "the file holds only the header line, without a line end after it";
  }
  if (other == header) {
    return scrambled ? "the file is plain text but named .tlc (use zelka-host scramble, or "
                       "name it .tlk)"
                     : "the file is scrambled but named .tlk (name it .tlc)";
  }
  if (!asRead.empty() && asRead.back() == '\n') asRead.pop_back();
  if (findInvalidShiftJis(asRead)) {
    return "the first line is not Shift_JIS text (is this a knowledge file?), so it cannot be "
           "the header " + headerText + "; the file is not read";
  }
  return "the first line is \"" + shortened(shiftJisToDisplay(asRead), 60) + "\", not " +
         headerText + "; the file is not read";
}

}  // namespace

KnowledgeFileReport KnowledgeLint::readFile(const std::string& path, bool scrambled) {
  const std::string file = relative(path);
  const std::string name = fileNameOf(path);
  FileInfo& info = files_[name];
  info.relative = file;
  StructureObserver observer(file, findings_, info.conditionalLines, info.blocksWithErrors);
  KnowledgeFileReport report;
  const std::u16string defaultToken = config_.eventRename(u"OnZelkaFreeTalk");
  if (!parseKnowledgeFile(defaultToken, path, std::u16string(kKnowledgeFileHeader), scrambled,
                          base_, &report, &observer)) {
    findings_.error(file, report.status == KnowledgeFileStatus::kBadHeader ? 1 : 0,
                    rejection(path, scrambled, report.status));
    return report;
  }
  observer.finish(report.unclosedBraces);

  // The text as a load reads it: a plain file up to a byte 0x1A, a file saved as UTF-8
  // converted to Shift_JIS.
  auto text = std::make_shared<FileText>();
  if (std::optional<std::string> bytes = zelka::readFile(path)) {
    text->content = scrambled ? unscrambleKnowledgeText(*bytes)
                              : std::string(beforeEndOfText(*bytes));
    if (report.convertedFromUtf8) text->content = readAuthorText(std::move(text->content)).bytes;
  }
  if (report.convertedFromUtf8) {
    findings_.warning(file, 0, "the file is saved as UTF-8: a load reads it converted to "
                               "Shift_JIS; save it as Shift_JIS");
  }
  std::string_view rest = text->content;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    text->lines.push_back(line);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  info.text = text;
  checkEncoding(*text, file);
  if (report.entriesDropped > 0) {
    findings_.error(file, 0, std::to_string(report.entriesDropped) +
                                 " entries are dropped: their token line has no token");
  }
  return report;
}

// A file that looks like UTF-8 is reported once, where its first non-ASCII line is; otherwise
// each line the reader cuts short (at a byte that is not Shift_JIS, or at a zero byte).
void KnowledgeLint::checkEncoding(const FileText& text, const std::string& file) {
  const std::size_t bodyStart = text.lines.empty() ? 0 : text.lines[0].size() + 1;
  const std::string_view body =
      bodyStart < text.content.size() ? std::string_view(text.content).substr(bodyStart) : "";
  if (detectTextEncoding(body) == TextEncoding::kUtf8) {
    for (std::size_t i = 1; i < text.lines.size(); ++i) {
      const std::string_view line = text.lines[i];
      if (std::any_of(line.begin(), line.end(),
                      [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        findings_.error(file, i + 1,
                        "the file is saved as UTF-8: the module reads Shift_JIS, and the "
                        "Japanese text turns into other characters; save the file as "
                        "Shift_JIS");
        return;
      }
    }
  }
  std::size_t badLines = 0;
  for (std::size_t i = 1; i < text.lines.size(); ++i) {
    std::string_view line = text.lines[i];
    const std::size_t zero = line.find('\0');
    if (zero != std::string_view::npos) {
      if (++badLines <= kEncodingLinesShown) {
        findings_.error(file, i + 1, "a zero byte: the rest of the line is lost",
                        charactersBefore(line, zero) + 1);
      }
      continue;
    }
    if (std::optional<std::size_t> bad = findInvalidShiftJis(line)) {
      if (++badLines <= kEncodingLinesShown) {
        findings_.error(file, i + 1,
                        "byte " + hexByte(static_cast<unsigned char>(line[*bad])) +
                            " is not Shift_JIS: the line is lost from there on",
                        charactersBefore(line, *bad) + 1);
      }
    }
  }
  if (badLines > kEncodingLinesShown) {
    findings_.error(file, 0, std::to_string(badLines - kEncodingLinesShown) +
                                 " more lines hold bytes that are not Shift_JIS");
  }
}

namespace {

// Walks the parsed scripts: element names, groups, conditions.
class ScriptWalker {
 public:
  ScriptWalker(Findings& findings, std::set<std::string>& calledTokens)
      : findings_(findings), called_(calledTokens) {
    for (const MetaElementName& known : MetaElementTable::names()) {
      const std::string name = display(known.name);
      if (known.percent) percentNames_.push_back(name);
      if (known.backslash) backslashNames_.push_back(name);
      if (known.passThrough) hostNames_.push_back(name);
    }
    percentNames_.push_back("if");
    for (std::string_view name : kHostVariables) hostNames_.emplace_back(name);
    for (const std::string& name : hostNames_) percentNames_.push_back(name);
  }

  // One text (a script or a conditional) written from `firstLine` on in `file`.
  using ColumnOf = std::function<std::size_t(std::size_t, std::u16string_view)>;

  void checkText(const std::string& file, std::size_t firstLine, const std::string& narrow,
                 const ColumnOf& columnOf, bool isConditional) {
    file_ = &file;
    firstLine_ = firstLine;
    text_ = toWide(narrow);
    cursor_ = 0;
    columnOf_ = &columnOf;
    std::vector<ScriptElement> elements;
    ScriptParseIssues issues;
    parseScript(text_, &elements, std::nullopt, &issues);
    for (std::size_t offset : issues.unclosedQuotes) {
      error(lineAt(offset), "a double quote is never closed: the rest of the text is shown "
                            "as written; close it, or write \\\" for a quote character",
            u"");
    }
    for (std::size_t offset : issues.unclosedGroups) {
      const char16_t bracket = offset < text_.size() ? text_[offset] : u'(';
      const char16_t closing = bracket == u'(' ? u')' : bracket == u'[' ? u']' : u'}';
      error(lineAt(offset), "\"" + display(std::u16string(1, bracket)) +
                                "\" is never closed: its element is lost; close it with \"" +
                                display(std::u16string(1, closing)) + "\"",
            u"");
    }
    walk(elements);
    if (isConditional) {
      const std::string formula = placeholderText(elements);
      const FormulaSyntax syntax = checkFormulaSyntax(formula);
      if (!syntax.ok()) {
        std::string shownCondition = narrow;
        while (!shownCondition.empty() &&
               (shownCondition.back() == '\n' || shownCondition.back() == ' ')) {
          shownCondition.pop_back();
        }
        error(firstLine_, "the condition \"" + shortened(display(std::string_view(shownCondition))) +
                              "\" is not a formula: " + display(std::string_view(describeFormulaProblem(syntax))),
              u"");
      }
    }
  }

 private:
  void walk(const std::vector<ScriptElement>& list) {
    for (const ScriptElement& element : list) {
      if (!element.isMeta()) continue;
      const std::u16string head =
          element.kind == u"+" ? element.name : element.kind + element.name;
      std::size_t at = findHead(text_, head, cursor_);
      // "%(cast)[name]" and "%[name]" are reflex elements without the name written.
      if (at == std::u16string::npos) at = text_.find(element.kind, cursor_);
      std::size_t line = firstLine_;
      if (at != std::u16string::npos) {
        line = lineAt(at);
        cursor_ = at + 1;
      }
      checkElement(element, head, line);
      walk(element.arguments);
      for (const auto& body : element.bodies) walk(body);
    }
  }

  void checkElement(const ScriptElement& element, const std::u16string& head, std::size_t line) {
    const std::string name = display(element.name);
    const std::string shown = display(head);
    auto known = [](const std::vector<std::string>& names, const std::string& n) {
      return std::find(names.begin(), names.end(), n) != names.end();
    };
    if (element.kind == u"%") {
      if (name == "if") {
        checkCondition(element, head, line);
        return;
      }
      if (name == "formula") checkFormulaBody(element, head, line);
      if (name == "token") noteCalledToken(element);
      if (known(percentNames_, name)) return;
      if (element.name.starts_with(kReferenceElementPrefix)) {
        const std::string suffix = name.substr(kReferenceElementPrefix.size());
        if (!std::all_of(suffix.begin(), suffix.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
          warning(line, shown + " reads as %ref with the number \"" + suffix +
                            "\": write %ref followed by digits only (%ref0 ... %ref7)", head);
        }
        return;
      }
      const std::optional<std::string> meant = closestName(name, percentNames_);
      warning(line, shown + " is not a meta element: it reaches the host as written" +
                        (meant ? "; did you mean %" + *meant + "?"
                               : " (fine if the host knows it)"),
              head);
      return;
    }
    if (element.kind == u"\\") {
      if (name == "formula") checkFormulaBody(element, head, line);
      if (known(backslashNames_, name) || known(hostNames_, name) ||
          element.name.size() <= kHostTagNameLimit) {
        return;
      }
      const std::optional<std::string> meant = closestName(name, backslashNames_);
      error(line, shown + " is not an element (a name runs over every ASCII letter and digit): "
                          "the talk shows an error report instead" +
                          (meant ? "; did you mean \\" + *meant + "?" : "") +
                          "; end a host tag before ASCII letters with a blank or \"[...]\"",
            head);
      return;
    }
    if (element.kind == u"+" && element.name == u"elseif") checkCondition(element, head, line);
  }

  // A token named by a %token element with a body written out (not computed).
  void noteCalledToken(const ScriptElement& element) {
    if (element.bodies.size() != 1) return;
    std::string body;
    for (const ScriptElement& part : element.bodies[0]) {
      if (part.isMeta()) return;
      body += toNarrow(part.text);
    }
    if (body.size() >= 2) called_.insert(body.substr(1, body.size() - 2));
  }

  void checkCondition(const ScriptElement& element, const std::u16string& head,
                      std::size_t line) {
    const std::string shown = display(head);
    const std::string formula = placeholderText(element.arguments);
    // A group left open is reported as such; its formula is whatever the rest of the text is.
    if (!formula.empty() && formula.back() != ')') return;
    const FormulaSyntax syntax = checkFormulaSyntax(formula);
    if (syntax.ok()) return;
    if (element.arguments.empty()) {
      error(line, shown + " has no condition in parentheses: it never runs its body", head);
      return;
    }
    error(line, "the condition of " + shown + " is not a formula: " +
                    display(std::string_view(describeFormulaProblem(syntax))), head);
  }

  void checkFormulaBody(const ScriptElement& element, const std::u16string& head,
                        std::size_t line) {
    const std::string shown = display(head);
    if (element.bodies.empty()) return;  // reported by the element itself when run
    std::string body = placeholderText(element.bodies[0]);
    if (body.size() >= 2 && body.front() == '[' && body.back() == ']') {
      body = body.substr(1, body.size() - 2);
    }
    std::vector<std::string> items;
    splitQuotedNarrow(body, ",", items);
    if (items.empty()) return;
    const FormulaSyntax syntax = checkFormulaSyntax(items[0]);
    if (syntax.ok() || syntax.problem == FormulaProblem::kEmpty) return;
    error(line, "the formula of " + shown + " is not a formula: " +
                    display(std::string_view(describeFormulaProblem(syntax))), head);
  }

  // The text of a list with each meta element standing as one operand, as a formula sees it
  // after expansion (whatever the element gives is a value).
  static std::string placeholderText(const std::vector<ScriptElement>& list) {
    std::string text;
    for (const ScriptElement& element : list) {
      text += element.isMeta() ? std::string("0") : toNarrow(element.text);
    }
    return text;
  }

  std::size_t lineAt(std::size_t offset) const {
    return firstLine_ + static_cast<std::size_t>(std::count(
                            text_.begin(), text_.begin() + std::min(offset, text_.size()), u'\n'));
  }

  void error(std::size_t line, std::string message, std::u16string_view head) {
    findings_.error(*file_, line, std::move(message), (*columnOf_)(line, head));
  }
  void warning(std::size_t line, std::string message, std::u16string_view head) {
    findings_.warning(*file_, line, std::move(message), (*columnOf_)(line, head));
  }

  Findings& findings_;
  std::set<std::string>& called_;
  std::vector<std::string> percentNames_, backslashNames_, hostNames_;
  const std::string* file_ = nullptr;
  std::size_t firstLine_ = 0;
  std::u16string text_;
  std::size_t cursor_ = 0;
  const ColumnOf* columnOf_ = nullptr;
};

}  // namespace

void KnowledgeLint::checkEntries() {
  std::set<std::string> called;  // Shift_JIS
  ScriptWalker walker(findings_, called);
  std::set<std::pair<std::string, std::size_t>> blocksSeen;

  for (const auto& [key, entry] : base_) {
    const auto found = files_.find(entry.source);
    if (found == files_.end()) continue;
    const FileInfo& info = found->second;
    const FileText* text = info.text.get();
    const ScriptWalker::ColumnOf columnOf =
        [text](std::size_t line, std::u16string_view head) -> std::size_t {
      return text && !head.empty() ? text->column(line, head) : 0;
    };
    if (entry.scriptLine > 0) {
      walker.checkText(info.relative, entry.scriptLine, entry.script, columnOf, false);
    }
    if (!blocksSeen.insert({entry.source, entry.blockLine}).second) continue;
    if (entry.conditional != "1") {
      const auto conditional = info.conditionalLines.find(entry.blockLine);
      const std::size_t line =
          conditional != info.conditionalLines.end() ? conditional->second : entry.blockLine;
      walker.checkText(info.relative, line, entry.conditional, columnOf, true);
    }
    std::string target = entry.conditionalElse;
    while (!target.empty() && target.back() == ' ') target.pop_back();
    while (!target.empty() && target.front() == ' ') target.erase(0, 1);
    if (!target.empty()) called.insert(target);
  }

  // The names talk can be filed under: every event after its configured rename, the rename
  // targets, and the tokens scripts call.
  std::set<std::string> raised;
  std::map<std::string, std::string> renamedAway;  // name -> its rename
  std::set<std::string> constant;
  for (const EventName& event : knownEvents()) {
    const std::u16string wide = utf8ToUtf16(event.name);
    const std::string renamed = toNarrow(config_.eventRename(wide));
    raised.insert(renamed);
    if (renamed != event.name) renamedAway[std::string(event.name)] = renamed;
    if (event.constant) constant.insert(renamed);
  }
  std::vector<std::string> shown;
  for (const std::string& name : raised) shown.push_back(display(name));
  for (const std::string& token : called) shown.push_back(display(token));
  std::map<std::string, std::optional<std::string>> suggestions;  // by token, once each

  blocksSeen.clear();
  for (const auto& [key, entry] : base_) {
    const auto found = files_.find(entry.source);
    if (found == files_.end()) continue;
    const FileInfo& info = found->second;
    if (!blocksSeen.insert({entry.source, entry.blockLine}).second) continue;
    if (info.blocksWithErrors.count(entry.blockLine)) continue;
    const std::string token = display(std::string_view(key));
    const bool isCalled = called.count(key) > 0;
    if (const auto away = renamedAway.find(key); away != renamedAway.end() && !isCalled) {
      findings_.warning(info.relative, entry.blockLine,
                        "zelkaconf.xml renames " + token + " to " + display(away->second) +
                            ": talk under " + token + " never runs; file it under " +
                            display(away->second));
      continue;
    }
    if (constant.count(key) && !entry.script.empty()) {
      findings_.warning(info.relative, entry.blockLine,
                        key.find("Mouse") != std::string::npos
                            ? "talk under " + token + " runs on every pointer move; answer "
                              "OnZelkaBodyTouch instead, or leave " + token + " without talk"
                            : "talk under " + token + " runs every second; leave " + token +
                              " without talk (free talk is OnZelkaFreeTalk)");
      continue;
    }
    if (raised.count(key) || isCalled) continue;
    const auto remembered = suggestions.find(token);
    const std::optional<std::string> meant =
        remembered != suggestions.end()
            ? remembered->second
            : suggestions.emplace(token, closestName(token, shown)).first->second;
    findings_.warning(info.relative, entry.blockLine,
                      meant ? "no event or %token call is named " + token + "; did you mean " +
                                  *meant + "?"
                            : "no event or %token call is named " + token +
                                  " (fine if the host raises it)");
  }

  // Conditional-else targets without talk.
  blocksSeen.clear();
  for (const auto& [key, entry] : base_) {
    const auto found = files_.find(entry.source);
    if (found == files_.end()) continue;
    if (!blocksSeen.insert({entry.source, entry.blockLine}).second) continue;
    std::string target = entry.conditionalElse;
    while (!target.empty() && target.back() == ' ') target.pop_back();
    while (!target.empty() && target.front() == ' ') target.erase(0, 1);
    if (target.empty() || base_.count(target)) continue;
    std::vector<std::string> tokens;
    for (auto it = base_.begin(); it != base_.end(); it = base_.upper_bound(it->first)) {
      tokens.push_back(display(std::string_view(it->first)));
    }
    findings_.warning(found->second.relative, entry.blockLine,
                      "the conditional-else names " + display(std::string_view(target)) +
                          ", which has no talk" + didYouMean(display(std::string_view(target)),
                                                             tokens));
  }
}

}  // namespace zelka::host
