// The script parser: turns script text (UTF-16) into a list of elements. An element is plain
// text or a meta element: a kind ("%", a backslash, or "+" for a chained "elseif"/"else"), a
// name, an optional argument group "(...)" and body groups "[...]" or "{...}", each parsed
// into its own element list with its brackets kept in its text elements. Text between double
// quotes is never parsed. Nesting of meta elements inside groups is bounded: past the bound a
// "%" or backslash stays literal text, so any input parses with bounded stack use.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelka {

struct ScriptElement {
  // Plain text: its characters. Meta element: kind + name + argument texts + body texts.
  std::u16string text;
  std::u16string kind;   // empty for plain text
  std::u16string name;
  std::vector<ScriptElement> arguments;
  std::vector<std::vector<ScriptElement>> bodies;

  bool isMeta() const { return !kind.empty(); }
};

struct BracketPair {
  char16_t open;
  char16_t close;
};

// How deeply meta elements may nest inside one another's groups within one parse.
inline constexpr int kMaxParseDepth = 32;

// What the parser mended in a text, for author tools (zelka-host check): offsets into the
// text of each double quote that was never closed (the parser closes it at the end of its
// text) and of each group's opening bracket that was never closed (the parser drops the last
// element of that group).
struct ScriptParseIssues {
  std::vector<std::size_t> unclosedQuotes;
  std::vector<std::size_t> unclosedGroups;
};

// Parses text into out. With a bracket pair the text starts at the opening bracket and
// parsing stops after the group's closing bracket. Answers the characters consumed, or -1
// when out is null.
long parseScript(std::u16string_view text, std::vector<ScriptElement>* out,
                 std::optional<BracketPair> pair = std::nullopt,
                 ScriptParseIssues* issues = nullptr);

// Parses one meta element starting at a "%", a backslash, or (in chain mode) at
// "elseif"/"else". A "%" directly followed by "if" switches chainMode on. Answers the
// characters consumed: 0 inside quotes, below 2 when no element starts here.
std::size_t parseMetaElement(std::u16string_view text, bool inQuotes, ScriptElement& element,
                             bool& chainMode);

}  // namespace zelka
