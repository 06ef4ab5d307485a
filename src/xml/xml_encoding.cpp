#include "xml/xml_encoding.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

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
  struct Alias {
    std::string_view name;
    XmlFileEncoding encoding;
  };
  static constexpr Alias kAliases[] = {
      {"shift_jis", XmlFileEncoding::ShiftJis}, {"shift-jis", XmlFileEncoding::ShiftJis},
      {"sjis", XmlFileEncoding::ShiftJis}, {"x-sjis", XmlFileEncoding::ShiftJis},
      {"ms_kanji", XmlFileEncoding::ShiftJis}, {"csshiftjis", XmlFileEncoding::ShiftJis},
      {"windows-31j", XmlFileEncoding::ShiftJis}, {"cp932", XmlFileEncoding::ShiftJis},
      {"ms932", XmlFileEncoding::ShiftJis},
      {"utf-8", XmlFileEncoding::Utf8}, {"utf8", XmlFileEncoding::Utf8},
      {"utf-16", XmlFileEncoding::Utf16}, {"utf16", XmlFileEncoding::Utf16},
      {"utf-16le", XmlFileEncoding::Utf16}, {"utf-16be", XmlFileEncoding::Utf16},
      {"iso-10646-ucs-2", XmlFileEncoding::Utf16},
      {"us-ascii", XmlFileEncoding::Ascii}, {"ascii", XmlFileEncoding::Ascii},
      {"ansi_x3.4-1968", XmlFileEncoding::Ascii}, {"iso646-us", XmlFileEncoding::Ascii},
      {"csascii", XmlFileEncoding::Ascii}, {"iso-ir-6", XmlFileEncoding::Ascii},
      {"iso-8859-1", XmlFileEncoding::Latin1}, {"iso_8859-1", XmlFileEncoding::Latin1},
      {"iso8859-1", XmlFileEncoding::Latin1}, {"latin1", XmlFileEncoding::Latin1},
      {"l1", XmlFileEncoding::Latin1}, {"iso-ir-100", XmlFileEncoding::Latin1},
      {"cp819", XmlFileEncoding::Latin1}, {"ibm819", XmlFileEncoding::Latin1},
      {"csisolatin1", XmlFileEncoding::Latin1},
      {"euc-jp", XmlFileEncoding::EucJp}, {"eucjp", XmlFileEncoding::EucJp},
      {"x-euc-jp", XmlFileEncoding::EucJp}, {"ujis", XmlFileEncoding::EucJp},
      {"cseucpkdfmtjapanese", XmlFileEncoding::EucJp},
      {"extended_unix_code_packed_format_for_japanese", XmlFileEncoding::EucJp},
  };
  for (const Alias& alias : kAliases) {
    if (equalsIgnoringCase(name, alias.name)) return alias.encoding;
  }
  return XmlFileEncoding::Unknown;
}

std::string positionOf(std::string_view text, std::size_t offset) {
  std::size_t line = 1;
  std::size_t column = 1;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\n') {
      ++line;
      column = 1;
    } else if ((byte & 0xC0) != 0x80) {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

namespace {

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The encoding named by the XML declaration at the start of the text; nullopt when there is
// no declaration or it names no encoding, an empty name when the name is not quoted (the
// parser then reports the declaration).
std::optional<std::string_view> declaredEncoding(std::string_view bytes) {
  if (bytes.size() < 6 || bytes.substr(0, 5) != "<?xml" || !isXmlSpace(bytes[5])) {
    return std::nullopt;
  }
  std::size_t end = bytes.find("?>");
  if (end == std::string_view::npos) return std::nullopt;
  std::string_view decl = bytes.substr(0, end);
  std::size_t at = 5;
  while ((at = decl.find("encoding", at)) != std::string_view::npos) {
    std::size_t i = at + 8;
    bool boundary = isXmlSpace(decl[at - 1]);
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

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// A declared name for a message: encoding names are ASCII, anything else shows as '?'.
std::string printableAscii(std::string_view text) {
  std::string out;
  for (char c : text) out.push_back(c >= 0x20 && c < 0x7F ? c : '?');
  return out;
}

std::string hexByte(unsigned char byte) {
  static const char kHex[] = "0123456789ABCDEF";
  return std::string("0x") + kHex[byte >> 4] + kHex[byte & 0xF];
}

// Sets the problem at the end of the text decoded so far (where the bad bytes begin).
void failAtEnd(DecodedXml& out, const std::string& what) {
  out.problem = positionOf(out.text, out.text.size()) + ": " + what;
}

void decodeUtf16(std::string_view body, bool bigEndian, DecodedXml& out) {
  out.text.reserve(body.size() + body.size() / 2);
  const auto* p = reinterpret_cast<const unsigned char*>(body.data());
  const std::size_t units = body.size() / 2;
  auto unitAt = [&](std::size_t i) {
    return static_cast<char32_t>(bigEndian ? (p[2 * i] << 8) | p[2 * i + 1]
                                           : p[2 * i] | (p[2 * i + 1] << 8));
  };
  for (std::size_t i = 0; i < units; ++i) {
    char32_t unit = unitAt(i);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units && unitAt(i + 1) >= 0xDC00 &&
        unitAt(i + 1) <= 0xDFFF) {
      appendUtf8(out.text, 0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      return failAtEnd(out, "an unpaired UTF-16 surrogate");
    } else {
      appendUtf8(out.text, unit);
    }
  }
  if (body.size() % 2 != 0) failAtEnd(out, "the file ends inside a UTF-16 character");
}

void decodeSingleBytes(std::string_view body, bool ascii, DecodedXml& out) {
  out.text.reserve(body.size());
  for (char c : body) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80 && ascii) return failAtEnd(out, "byte " + hexByte(byte) + " is not US-ASCII");
    appendUtf8(out.text, byte);
  }
}

// EUC-JP is JIS X 0208 in bytes 0xA1-0xFE, half-width katakana after 0x8E and JIS X 0212
// after 0x8F. The first two map arithmetically onto Shift_JIS, so the text is decoded through
// the same code page 932 table as Shift_JIS files (as Windows code page 51932 does).
void decodeEucJp(std::string_view body, DecodedXml& out) {
  std::string sjis;
  sjis.reserve(body.size());
  const auto* p = reinterpret_cast<const unsigned char*>(body.data());
  auto fail = [&](const std::string& what) {
    out.text = utf16ToUtf8(decodeCp932Lenient(sjis));
    failAtEnd(out, what);
  };
  for (std::size_t i = 0; i < body.size(); ++i) {
    unsigned b = p[i];
    if (b < 0x80) {
      sjis.push_back(static_cast<char>(b));
      continue;
    }
    unsigned next = i + 1 < body.size() ? p[i + 1] : 0;
    if (b == 0x8E && next >= 0xA1 && next <= 0xDF) {
      sjis.push_back(static_cast<char>(next));
      ++i;
    } else if (b >= 0xA1 && b <= 0xFE && next >= 0xA1 && next <= 0xFE) {
      unsigned row = b - 0x80;
      unsigned cell = next - 0x80;
      unsigned lead = (row + 1) / 2 + (row <= 0x5E ? 0x70 : 0xB0);
      unsigned trail = (row & 1) ? cell + (cell < 0x60 ? 0x1F : 0x20) : cell + 0x7E;
      sjis.push_back(static_cast<char>(lead));
      sjis.push_back(static_cast<char>(trail));
      ++i;
    } else if (b == 0x8F) {
      return fail("a JIS X 0212 character, which Zelka does not read");
    } else {
      return fail("byte " + hexByte(static_cast<unsigned char>(b)) +
                  " does not begin an EUC-JP character here");
    }
  }
  out.text = utf16ToUtf8(decodeCp932Lenient(sjis));
}

}  // namespace

DecodedXml decodeFileBytes(std::string_view bytes) {
  DecodedXml out;
  // UTF-16: a byte-order mark, or the "<?" of a declaration in two-byte units.
  std::optional<bool> utf16BigEndian;
  std::string_view body = bytes;
  if (bytes.substr(0, 2) == "\xFF\xFE") {
    utf16BigEndian = false;
    body = bytes.substr(2);
  } else if (bytes.substr(0, 2) == "\xFE\xFF") {
    utf16BigEndian = true;
    body = bytes.substr(2);
  } else if (bytes.substr(0, 4) == std::string_view("<\0?\0", 4)) {
    utf16BigEndian = false;
  } else if (bytes.substr(0, 4) == std::string_view("\0<\0?", 4)) {
    utf16BigEndian = true;
  }
  if (utf16BigEndian) {
    out.encoding = XmlFileEncoding::Utf16;
    decodeUtf16(body, *utf16BigEndian, out);
    if (!out.problem.empty()) return out;
    auto name = declaredEncoding(out.text);
    if (name && !name->empty() && encodingFromName(*name) != XmlFileEncoding::Utf16) {
      out.problem = positionOf(out.text, static_cast<std::size_t>(name->data() - out.text.data())) +
                    ": the file is UTF-16 but its declaration names the encoding \"" +
                    printableAscii(*name) + "\"";
    }
    return out;
  }

  const bool bom = body.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark;
  if (bom) body = body.substr(kUtf8ByteOrderMark.size());
  XmlFileEncoding encoding = XmlFileEncoding::Utf8;
  if (auto name = declaredEncoding(body); name && !name->empty()) {
    encoding = encodingFromName(*name);
    std::string where = positionOf(body, static_cast<std::size_t>(name->data() - body.data()));
    std::string quoted = "\"" + printableAscii(*name) + "\"";
    if (encoding == XmlFileEncoding::Unknown) {
      out.problem = where + ": the declaration names the encoding " + quoted +
                    ", which Zelka does not read";
    } else if (encoding == XmlFileEncoding::Utf16) {
      out.problem = where + ": the declaration names the encoding " + quoted +
                    " but the file has no UTF-16 byte-order mark";
    } else if (bom && encoding != XmlFileEncoding::Utf8) {
      out.problem = where + ": the file begins with a UTF-8 byte-order mark but its declaration "
                            "names the encoding " + quoted;
    }
    if (!out.problem.empty()) return out;
  }
  out.encoding = encoding;
  switch (encoding) {
    case XmlFileEncoding::Utf8:
      if (std::size_t bad = firstInvalidUtf8Byte(body); bad != std::string_view::npos) {
        out.problem = positionOf(body, bad) + ": byte " +
                      hexByte(static_cast<unsigned char>(body[bad])) +
                      " does not begin a UTF-8 character here";
        return out;
      }
      out.text.assign(body);
      return out;
    case XmlFileEncoding::ShiftJis:
      out.text = utf16ToUtf8(decodeCp932Lenient(body));
      return out;
    case XmlFileEncoding::Ascii:
    case XmlFileEncoding::Latin1:
      decodeSingleBytes(body, encoding == XmlFileEncoding::Ascii, out);
      return out;
    case XmlFileEncoding::EucJp:
      decodeEucJp(body, out);
      return out;
    case XmlFileEncoding::Utf16:
    case XmlFileEncoding::Unknown:
      break;
  }
  return out;
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
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
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
