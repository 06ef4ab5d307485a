#include "script/script_parser.h"

namespace zelka {
namespace {

bool isEscapable(char16_t c) {
  return c == u'\\' || c == u'"' || c == u'%' || c == u'[' || c == u']' || c == u'(' ||
         c == u')' || c == u' ';
}

bool isNameChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
         c == u'_' || c == u'?';
}

bool isOneCharName(char16_t c) {
  return c == u' ' || c == u'*' || c == u'+' || c == u'-' || c == u'|';
}

std::size_t skipBlanksAndLineFeeds(std::u16string_view text, std::size_t p) {
  while (p < text.size() && (text[p] == u' ' || text[p] == u'\n')) ++p;
  return p;
}

void appendTexts(std::u16string& into, const std::vector<ScriptElement>& list) {
  for (const ScriptElement& e : list) into += e.text;
}

// Where the text being parsed starts in the text given to parseScript, and where to note
// what was mended (null: nowhere).
struct Notes {
  ScriptParseIssues* issues = nullptr;
  std::size_t base = 0;
  Notes at(std::size_t offset) const { return Notes{issues, base + offset}; }
};

long parseList(std::u16string_view text, std::vector<ScriptElement>& out,
               std::optional<BracketPair> pair, int depth, Notes notes);

std::size_t parseElement(std::u16string_view text, bool inQuotes, ScriptElement& element,
                         bool& chainMode, int depth, Notes notes = {}) {
  if (inQuotes || text.empty()) return 0;
  // Past the nesting bound nothing starts an element: the caller keeps the text literally.
  if (depth >= kMaxParseDepth) return 1;

  element = ScriptElement{};
  std::size_t p = 0;
  if (chainMode) {
    element.kind.assign(1, u'+');
  } else {
    element.kind.assign(1, text[0]);
    p = 1;
    if (text[0] == u'%' && text.substr(1).starts_with(u"if")) chainMode = true;
  }

  // Name.
  if (p < text.size()) {
    const char16_t c = text[p];
    if (c == u'\n') return 1;
    if (isOneCharName(c)) {
      element.name.assign(1, c);
      ++p;
    } else if (c == u'(' || c == u'[') {
      element.name = u"reflex";
    } else {
      while (p < text.size() && isNameChar(text[p])) element.name += text[p++];
      if (p < text.size() && text[p] == u'\n') ++p;
    }
  }

  const bool chainName =
      element.name == u"if" || element.name == u"elseif" || element.name == u"else";
  // Only the chain's own parts take their bodies in braces: a chained name that merely starts
  // with "else" ("elsewhere") reads its groups as any other element does.
  const bool chainElement =
      chainName && (element.kind == u"+" || (element.kind == u"%" && element.name == u"if"));

  auto finish = [&]() {
    element.text = element.kind;
    element.text += element.name;
    appendTexts(element.text, element.arguments);
    for (const auto& body : element.bodies) appendTexts(element.text, body);
    return p;
  };

  p = skipBlanksAndLineFeeds(text, p);

  // Argument group.
  if (p < text.size() && text[p] == u'(') {
    const long used = parseList(text.substr(p), element.arguments, BracketPair{u'(', u')'},
                                depth + 1, notes.at(p));
    if (used <= 0 && chainName) return finish();
    if (used > 0) p += static_cast<std::size_t>(used);
  }

  p = skipBlanksAndLineFeeds(text, p);

  // Body groups, without gaps between them.
  while (p < text.size() && (text[p] == u'[' || text[p] == u'{')) {
    BracketPair pair{u'{', u'}'};
    if (!chainElement && text[p] == u'[') pair = BracketPair{u'[', u']'};
    std::vector<ScriptElement> body;
    const long used = parseList(text.substr(p), body, pair, depth + 1, notes.at(p));
    if (used <= 0) break;
    element.bodies.push_back(std::move(body));
    p += static_cast<std::size_t>(used);
  }
  return finish();
}

long parseList(std::u16string_view text, std::vector<ScriptElement>& out,
               std::optional<BracketPair> pair, int depth, Notes notes) {
  std::u16string pending;
  bool inQuote = false;
  std::size_t quoteStart = 0;
  bool chainMode = false;
  int bracketDepth = 0;
  std::size_t i = 0;
  const std::size_t n = text.size();

  auto flushPending = [&]() {
    if (pending.empty()) return;
    ScriptElement plain;
    plain.text = std::move(pending);
    out.push_back(std::move(plain));
    pending.clear();
  };

  while (i < n) {
    const char16_t c = text[i];
    if (c == u'\n') {
      ++i;
      continue;
    }
    if (c == u'\\' && i + 1 < n && isEscapable(text[i + 1])) {
      pending += c;
      pending += text[i + 1];
      i += 2;
      continue;
    }
    if (c == u'"') {
      pending += c;
      inQuote = !inQuote;
      quoteStart = i;
      ++i;
      continue;
    }
    if (inQuote) {
      pending += c;
      ++i;
      continue;
    }
    if (pair && c == pair->open) {
      ++bracketDepth;
      pending += c;
      ++i;
      continue;
    }
    if (pair && c == pair->close) {
      --bracketDepth;
      pending += c;
      ++i;
      if (bracketDepth < 1) break;
      continue;
    }
    if (chainMode && text.substr(i).starts_with(u"else")) {
      ScriptElement element;
      const std::size_t used =
          parseElement(text.substr(i), false, element, chainMode, depth, notes.at(i));
      if (used >= 2) {
        // Text between a chain's closing brace and its else part is dropped.
        pending.clear();
        out.push_back(std::move(element));
        i += used;
        continue;
      }
      pending += c;
      ++i;
      continue;
    }
    if (c == u'%' || c == u'\\') {
      chainMode = false;
      ScriptElement element;
      const std::size_t used =
          parseElement(text.substr(i), false, element, chainMode, depth, notes.at(i));
      if (used >= 2) {
        if (element.kind == u"+") {
          pending.clear();
        } else {
          flushPending();
        }
        out.push_back(std::move(element));
        i += used;
        continue;
      }
      // Not an element: the leading character and the next one stay literal.
      pending += c;
      ++i;
      if (i < n && text[i] == u'\n') ++i;
      if (i < n) {
        pending += text[i];
        ++i;
      }
      continue;
    }
    pending += c;
    ++i;
  }

  if (inQuote) {
    pending += u'"';
    if (notes.issues) notes.issues->unclosedQuotes.push_back(notes.base + quoteStart);
  }
  flushPending();
  if (bracketDepth > 0 && notes.issues) notes.issues->unclosedGroups.push_back(notes.base);
  if (bracketDepth > 0 && !out.empty()) out.pop_back();
  return static_cast<long>(i);
}

}  // namespace

long parseScript(std::u16string_view text, std::vector<ScriptElement>* out,
                 std::optional<BracketPair> pair, ScriptParseIssues* issues) {
  if (out == nullptr) return -1;
  return parseList(text, *out, pair, 0, Notes{issues, 0});
}

std::size_t parseMetaElement(std::u16string_view text, bool inQuotes, ScriptElement& element,
                             bool& chainMode) {
  return parseElement(text, inQuotes, element, chainMode, 0);
}

}  // namespace zelka
