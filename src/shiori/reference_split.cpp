#include "shiori/reference_split.h"

namespace zelka {

namespace {

bool startsTwoByte(char c) { return static_cast<unsigned char>(c) >= 0x81; }

bool beginsWith(std::string_view text, std::size_t pos, std::string_view part) {
  return pos <= text.size() && text.substr(pos).starts_with(part);
}

}  // namespace

SeparationExpression parseSeparationExpression(std::string_view expression) {
  std::string e(expression);
  std::size_t i = 0;
  while (i < e.size()) {
    const char c = e[i];
    if (startsTwoByte(c)) {
      i += 2;
    } else if (c == '\\' && i + 1 < e.size() && e[i + 1] == '*') {
      e.erase(i, 1);   // the star after it is literal
      i += 1;
    } else if (c == '*') {
      return {e.substr(0, i), e.substr(i + 1)};
    } else {
      ++i;
    }
  }
  // No wildcard: the first character stands for it.
  if (e.empty()) return {};
  const std::size_t width = startsTwoByte(e[0]) ? 2 : 1;
  return {std::string(), width < e.size() ? e.substr(width) : std::string()};
}

std::size_t splitBySeparation(std::string_view text, std::string_view expression,
                              std::vector<std::string>& out) {
  const std::size_t before = out.size();
  if (expression.empty()) {
    if (!text.empty()) out.emplace_back(text);
    return out.size() - before;
  }
  const SeparationExpression sep = parseSeparationExpression(expression);
  const std::size_t n = text.size();
  std::size_t pos = 0;
  std::size_t start = 0;
  bool prefixSeen = false;
  while (pos < n) {
    if (startsTwoByte(text[pos])) {
      pos += 2;
      continue;
    }
    if (!sep.prefix.empty() && !prefixSeen && beginsWith(text, pos, sep.prefix)) {
      // The piece begins after the prefix; what lay before it belongs to no piece.
      prefixSeen = true;
      pos += sep.prefix.size();
      start = pos;
      continue;
    }
    if (beginsWith(text, pos, sep.suffix)) {
      out.emplace_back(text.substr(start, pos - start));
      prefixSeen = false;
      // The next piece begins after the whole suffix (an empty one still consumes a byte,
      // so the walk always advances).
      pos += sep.suffix.empty() ? 1 : sep.suffix.size();
      start = pos;
    } else {
      pos += 1;
    }
  }
  if (start < n) out.emplace_back(text.substr(start));
  return out.size() - before;
}

}  // namespace zelka
