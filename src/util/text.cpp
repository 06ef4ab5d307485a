// Text utilities. The narrow functions work on Shift_JIS bytes; each states the lead-byte
// rule it uses so that it never cuts a two-byte character (or, where the rule is loose,
// cuts it exactly the way stored files and scripts expect).
#include "util/text.h"

#include "platform/path_text.h"

namespace zelka {
namespace {

template <typename String, typename Unit>
bool tabsToSpacesImpl(String& text, Unit space) {
  for (auto& c : text) {
    if (c == static_cast<Unit>('\t')) c = space;
  }
  return true;
}

// Shared walk of both collapseSpaces forms. `narrowLeads` selects the narrow lead-byte rule:
// any byte of 0x81 or more starts a two-byte character.
template <typename String>
bool collapseSpacesImpl(String& text, bool narrowLeads) {
  using Unit = typename String::value_type;
  const Unit space = static_cast<Unit>(' ');
  const Unit quote = static_cast<Unit>('"');

  std::size_t leading = 0;
  while (leading < text.size() && text[leading] == space) ++leading;
  text.erase(0, leading);

  // Compacts in place: `out` is where the next kept unit goes.
  bool inQuote = false;
  bool previousWasSpace = false;
  std::size_t out = 0;
  std::size_t i = 0;
  const std::size_t size = text.size();
  while (i < size) {
    Unit c = text[i];
    if (narrowLeads && static_cast<unsigned char>(c) >= 0x81) {
      text[out++] = text[i++];
      if (i < size) text[out++] = text[i++];
      previousWasSpace = false;
      continue;
    }
    if (inQuote) {
      if (c == quote) {
        inQuote = false;  // the closing quote is an ordinary character
      }
      text[out++] = text[i++];
      previousWasSpace = false;
      continue;
    }
    if (c == quote) {
      inQuote = true;
      previousWasSpace = false;
    } else if (c == space) {
      if (previousWasSpace) {
        ++i;  // drop the extra space
        continue;
      }
      previousWasSpace = true;
    } else {
      previousWasSpace = false;
    }
    text[out++] = text[i++];
  }
  text.resize(out);
  return true;
}

// Shared walk of the quote-aware splits. Pieces are built as narrow or wide text of the
// input's width and handed to `emit`.
template <typename View, typename Emit>
bool splitQuotedImpl(View text, View separator, bool narrowLeads, Emit emit) {
  using Unit = typename View::value_type;
  if (separator.empty()) return false;
  std::basic_string<Unit> piece;
  bool inQuote = false;
  std::size_t i = 0;
  while (i < text.size()) {
    Unit c = text[i];
    if (narrowLeads && static_cast<unsigned char>(c) >= 0x81 && i + 1 < text.size() &&
        static_cast<unsigned char>(text[i + 1]) >= 0x40) {
      piece.push_back(c);
      piece.push_back(text[i + 1]);
      i += 2;
      continue;
    }
    if (c == static_cast<Unit>('"')) {
      inQuote = !inQuote;
      piece.push_back(c);
      ++i;
      continue;
    }
    if (!inQuote && text.compare(i, separator.size(), separator) == 0) {
      emit(piece);
      piece.clear();
      i += separator.size();
      continue;
    }
    piece.push_back(c);
    ++i;
  }
  if (!piece.empty()) emit(piece);
  return true;
}

}  // namespace

std::string& trimLeft(std::string& text, char token) {
  std::size_t count = 0;
  while (count < text.size() && text[count] == token) ++count;
  text.erase(0, count);
  return text;
}

std::string& trimRight(std::string& text, char token) {
  std::size_t size = text.size();
  while (size > 0 && text[size - 1] == token) --size;
  text.resize(size);
  return text;
}

std::string& trim(std::string& text, char token) { return trimRight(trimLeft(text, token), token); }

bool tabsToSpaces(std::u16string& text) { return tabsToSpacesImpl(text, u' '); }
bool tabsToSpaces(std::string& text) { return tabsToSpacesImpl(text, ' '); }

bool collapseSpaces(std::string& text) { return collapseSpacesImpl(text, true); }
bool collapseSpaces(std::u16string& text) { return collapseSpacesImpl(text, false); }

bool splitQuoted(std::string_view text, std::string_view separator,
                 std::vector<std::u16string>& pieces) {
  pieces.clear();
  return splitQuotedImpl(text, separator, true,
                         [&](const std::string& piece) { pieces.push_back(toWide(piece)); });
}

bool splitQuoted(std::u16string_view text, std::u16string_view separator,
                 std::vector<std::u16string>& pieces) {
  pieces.clear();
  return splitQuotedImpl(text, separator, false,
                         [&](const std::u16string& piece) { pieces.push_back(piece); });
}

bool splitQuotedNarrow(std::string_view text, std::string_view separator,
                       std::vector<std::string>& pieces) {
  pieces.clear();
  return splitQuotedImpl(text, separator, true,
                         [&](const std::string& piece) { pieces.push_back(piece); });
}

bool stripEnclosing(std::string& text, char opening, char closing) {
  if (opening == '\0' || closing == '\0') return false;
  std::size_t size = text.size();
  if (size >= 2 && text.front() == opening && text.back() == closing &&
      (size == 2 || text[size - 2] != '\\')) {
    text.erase(size - 1, 1);
    text.erase(0, 1);
  }
  return true;
}

namespace {

bool isShiftJisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

}  // namespace

std::string doubleBackslashes(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    out += c;
    if (isShiftJisLead(static_cast<unsigned char>(c)) && i + 1 < text.size()) {
      out += text[++i];
    } else if (c == '\\') {
      out += '\\';
    }
  }
  return out;
}

std::string undoubleBackslashes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    out += c;
    if (isShiftJisLead(static_cast<unsigned char>(c)) && i + 1 < text.size()) {
      out += text[++i];
    } else if (c == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
      ++i;
    }
  }
  return out;
}

std::string fileNameOf(std::string_view path) {
  return std::string(path.substr(pathNameStart(path)));
}

}  // namespace zelka
