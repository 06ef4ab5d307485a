#include "xml/xml_encoding.h"

#include <cstdint>
#include <cstring>

#include "platform/text_codec.h"
#include "util/text_encoding.h"

namespace zelka {

namespace {

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace

XmlFileEncoding encodingFromName(std::string_view name) {
  static constexpr std::string_view kShiftJis[] = {
      "shift_jis", "shift-jis", "sjis", "x-sjis", "ms_kanji",
      "csshiftjis", "windows-31j", "cp932", "ms932"};
  static constexpr std::string_view kUtf8[] = {"utf-8", "utf8"};
  for (auto alias : kShiftJis) {
    if (equalsIgnoringCase(name, alias)) return XmlFileEncoding::ShiftJis;
  }
  for (auto alias : kUtf8) {
    if (equalsIgnoringCase(name, alias)) return XmlFileEncoding::Utf8;
  }
  return XmlFileEncoding::Unknown;
}

namespace {

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The encoding named by the XML declaration at the start of the bytes (after any byte-order
// mark); nullopt when there is no declaration or it names no encoding.
std::optional<std::string_view> declaredEncoding(std::string_view bytes) {
  if (bytes.size() < 6 || bytes.substr(0, 5) != "<?xml" || !isXmlSpace(bytes[5])) {
    return std::nullopt;
  }
  std::size_t end = bytes.find("?>");
  if (end == std::string_view::npos) return std::nullopt;
  std::string_view decl = bytes.substr(5, end - 5);
  std::size_t at = 0;
  while ((at = decl.find("encoding", at)) != std::string_view::npos) {
    std::size_t i = at + 8;
    bool boundary = at > 0 && isXmlSpace(decl[at - 1]);
    at = i;
    if (!boundary) continue;
    while (i < decl.size() && isXmlSpace(decl[i])) ++i;
    if (i >= decl.size() || decl[i] != '=') continue;
    ++i;
    while (i < decl.size() && isXmlSpace(decl[i])) ++i;
    if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\'')) return std::string_view();
    char quote = decl[i];
    std::size_t close = decl.find(quote, i + 1);
    if (close == std::string_view::npos) return std::string_view();
    return decl.substr(i + 1, close - i - 1);
  }
  return std::nullopt;
}

}  // namespace

// Turns file bytes into the UTF-8 text pugixml parses; nullopt when the bytes are not in an
// encoding we read (an unknown declared encoding, invalid UTF-8, a UTF-16 file).
std::optional<std::string> decodeFileBytes(std::string_view bytes) {
  bool bom = bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF";
  std::string_view body = bom ? bytes.substr(3) : bytes;
  XmlFileEncoding encoding = XmlFileEncoding::Utf8;
  if (auto name = declaredEncoding(body)) encoding = encodingFromName(*name);
  if (bom && encoding != XmlFileEncoding::Utf8) return std::nullopt;
  switch (encoding) {
    case XmlFileEncoding::Utf8:
      if (!isValidUtf8(body)) return std::nullopt;
      return std::string(body);
    case XmlFileEncoding::ShiftJis:
      return utf16ToUtf8(decodeCp932Lenient(body));
    case XmlFileEncoding::Unknown:
      break;
  }
  return std::nullopt;
}

namespace {

// Characters XML 1.0 cannot carry (C0 controls other than tab, line feed and carriage return,
// unpaired surrogates, U+FFFE and U+FFFF) become U+FFFD, so that every file we write can be
// read by any XML reader. Keys are cleaned the same way before they are compared, so a key
// stored through the wrapper is found again with the text it was stored with.
bool isXmlIllegalUnit(char16_t c) {
  return (c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) || c == 0xFFFE || c == 0xFFFF;
}

}  // namespace

std::string toXmlUtf8(std::u16string_view text) {
  bool clean = true;
  for (std::size_t i = 0; i < text.size() && clean; ++i) {
    char16_t c = text[i];
    if (isXmlIllegalUnit(c)) {
      clean = false;
    } else if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        ++i;
      } else {
        clean = false;
      }
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      clean = false;
    }
  }
  if (clean) return utf16ToUtf8(text);
  std::u16string fixed(text);
  for (std::size_t i = 0; i < fixed.size(); ++i) {
    char16_t c = fixed[i];
    if (isXmlIllegalUnit(c)) {
      fixed[i] = 0xFFFD;
    } else if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < fixed.size() && fixed[i + 1] >= 0xDC00 && fixed[i + 1] <= 0xDFFF) {
        ++i;
      } else {
        fixed[i] = 0xFFFD;
      }
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      fixed[i] = 0xFFFD;
    }
  }
  return utf16ToUtf8(fixed);
}

namespace {

void appendDecimal(std::string& out, std::uint32_t value) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out.push_back(digits[--n]);
}

}  // namespace

// Re-encodes serialised UTF-8 markup as strict Shift_JIS. A character with no Shift_JIS form
// becomes a character reference where markup allows one (text and attribute values; a CDATA
// section is closed around the reference); in names it becomes '_' and in comments and
// processing instructions '?', where XML has no way to write it.
std::string encodeShiftJis(std::string_view utf8) {
  enum class State { Text, Tag, Value, Comment, CData, Instruction, Declaration };
  std::string out;
  out.reserve(utf8.size() + utf8.size() / 8);
  State state = State::Text;
  char quote = '"';
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const auto* end = p + utf8.size();
  auto startsWith = [&](const unsigned char* at, std::string_view what) {
    return static_cast<std::size_t>(end - at) >= what.size() &&
           std::memcmp(at, what.data(), what.size()) == 0;
  };
  auto endsWith = [&](std::string_view what) {
    return out.size() >= what.size() && out.compare(out.size() - what.size(), what.size(), what) == 0;
  };
  while (p < end) {
    unsigned c = *p;
    if (c < 0x80) {
      // Runs of plain text and attribute values copy straight through.
      if (state == State::Text || state == State::Value) {
        const unsigned char* run = p;
        char stop = state == State::Text ? '<' : quote;
        while (run < end && *run < 0x80 && *run != static_cast<unsigned char>(stop)) ++run;
        if (run != p) {
          out.append(reinterpret_cast<const char*>(p), run - p);
          p = run;
          continue;
        }
      }
      char ch = static_cast<char>(c);
      switch (state) {
        case State::Text:
          if (ch == '<') {
            if (startsWith(p, "<!--")) {
              state = State::Comment;
              out.append("<!--");
              p += 4;
              continue;
            }
            if (startsWith(p, "<![CDATA[")) {
              state = State::CData;
              out.append("<![CDATA[");
              p += 9;
              continue;
            }
            if (startsWith(p, "<?")) {
              state = State::Instruction;
              out.append("<?");
              p += 2;
              continue;
            }
            state = startsWith(p, "<!") ? State::Declaration : State::Tag;
          }
          break;
        case State::Tag:
          if (ch == '"' || ch == '\'') {
            state = State::Value;
            quote = ch;
          } else if (ch == '>') {
            state = State::Text;
          }
          break;
        case State::Value:
          if (ch == quote) state = State::Tag;
          break;
        case State::Comment:
          if (ch == '>' && endsWith("--")) state = State::Text;
          break;
        case State::CData:
          if (ch == '>' && endsWith("]]")) state = State::Text;
          break;
        case State::Instruction:
          if (ch == '>' && endsWith("?")) state = State::Text;
          break;
        case State::Declaration:
          if (ch == '>') state = State::Text;
          break;
      }
      out.push_back(ch);
      ++p;
      continue;
    }
    // A multi-byte character (the text was produced from valid UTF-8).
    int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    char32_t cp = 0xFFFD;
    if (length > 1 && end - p >= length) {
      cp = c & (0x7F >> length);
      for (int k = 1; k < length; ++k) cp = (cp << 6) | (p[k] & 0x3F);
    } else {
      length = 1;
    }
    p += length;
    if (encodeShiftJisStrict(cp, out)) continue;
    switch (state) {
      case State::Text:
      case State::Value:
        out.append("&#");
        appendDecimal(out, static_cast<std::uint32_t>(cp));
        out.push_back(';');
        break;
      case State::CData:
        out.append("]]>&#");
        appendDecimal(out, static_cast<std::uint32_t>(cp));
        out.append(";<![CDATA[");
        break;
      case State::Tag:
        out.push_back('_');
        break;
      default:
        out.push_back('?');
        break;
    }
  }
  return out;
}

}  // namespace zelka
