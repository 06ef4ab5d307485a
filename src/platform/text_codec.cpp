// The code page 932 codec over the tables each platform fills (codec_tables.h), and the
// UTF-8 <-> UTF-16 conversions of the XML layer. Nothing here depends on the platform.
#include "platform/text_codec.h"

#include <charconv>
#include <cstdint>

#include "platform/codec_tables.h"

namespace zelka {
namespace codec {

void fillFallbackTables(CodecTables& t) {
  // Without a converter only ASCII and half-width katakana are known.
  for (int b = 0; b < 0x80; ++b) {
    t.kind[b] = kSingle;
    t.single[b] = static_cast<char16_t>(b);
    t.encode[b] = static_cast<std::uint16_t>(b);
  }
  for (int b = 0xA1; b <= 0xDF; ++b) {
    t.kind[b] = kSingle;
    t.single[b] = static_cast<char16_t>(0xFF61 + (b - 0xA1));
    t.encode[0xFF61 + (b - 0xA1)] = static_cast<std::uint16_t>(b);
  }
}

}  // namespace codec

namespace {

using namespace codec;

constexpr char16_t kReplacement = 0xFFFD;

void clearTables(CodecTables& t) {
  t.kind.fill(kInvalid);
  t.single.fill(kNoChar);
  t.pair.fill(kNoChar);
  t.encode.fill(kNoCode);
}

// Single bytes that are no character of Shift_JIS. Some converters give them private or
// control characters (0x80, 0xA0 and 0xFD-0xFF); they are refused everywhere, in both
// directions, so that every platform reads and writes the same bytes.
bool isNonShiftJisByte(unsigned b) { return b == 0x80 || b == 0xA0 || b >= 0xFD; }

void refuseNonShiftJisBytes(CodecTables& t) {
  for (unsigned b = 0x80; b < 0x100; ++b) {
    if (isNonShiftJisByte(b) && t.kind[b] == kSingle) {
      t.kind[b] = kInvalid;
      t.single[b] = kNoChar;
    }
  }
  for (std::uint16_t& code : t.encode) {
    if (code < 0x100 && isNonShiftJisByte(code)) code = kNoCode;
  }
}

// Characters that JIS X 0208 has but code page 932 reads differently (the yen sign, the wave
// dash, the minus sign, ...): narrow text gets the code page 932 character at the same JIS
// position, as iconv writes them. The strict encoder still refuses them, because they do not
// read back as themselves.
void addJisVariants(CodecTables& t) {
  struct Variant {
    char16_t codePoint;
    std::uint16_t code;
  };
  static constexpr Variant kVariants[] = {
      {0x00A2, 0x8191}, {0x00A3, 0x8192}, {0x00A5, 0x005C}, {0x00AC, 0x81CA}, {0x2014, 0x815C},
      {0x2016, 0x8161}, {0x203E, 0x007E}, {0x2212, 0x817C}, {0x301C, 0x8160},
  };
  for (const Variant& v : kVariants) {
    if (t.encode[v.codePoint] != kNoCode) continue;
    bool known = v.code < 0x100 ? t.kind[v.code] == kSingle
                                : t.pair[((v.code >> 8) - 0x80) * 256 + (v.code & 0xFF)] != kNoChar;
    if (known) t.encode[v.codePoint] = v.code;
  }
}

const CodecTables& tables() {
  // Built once, thread-safely, in static storage: the tables have a trivial destructor, so
  // conversions stay valid while other static objects are torn down at unload, and nothing
  // is left behind in the host's process when the module is unmapped.
  static CodecTables storage;
  static const bool built = (clearTables(storage), buildCodecTables(storage),
                             refuseNonShiftJisBytes(storage), addJisVariants(storage), true);
  (void)built;
  return storage;
}

// Decodes the character at text[i]; returns its length in bytes (0 when it does not
// convert) and stores the character in *unit.
inline std::size_t decodeAt(const CodecTables& t, std::string_view text, std::size_t i,
                            char16_t* unit) {
  unsigned char b = static_cast<unsigned char>(text[i]);
  ByteKind kind = t.kind[b];
  if (kind == kSingle) {
    *unit = t.single[b];
    return 1;
  }
  if (kind == kLead && i + 1 < text.size()) {
    unsigned char trail = static_cast<unsigned char>(text[i + 1]);
    char16_t value = t.pair[(b - 0x80) * 256 + trail];
    if (value != kNoChar) {
      *unit = value;
      return 2;
    }
  }
  return 0;
}

inline char* writeUtf8(char* out, char32_t cp) {
  if (cp < 0x80) {
    *out++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

}  // namespace

std::u16string toWide(std::string_view narrow) {
  const CodecTables& t = tables();
  // Written through a pointer into a buffer of the largest possible size: one unit per byte.
  std::u16string wide(narrow.size(), u'\0');
  char16_t* out = wide.data();
  std::size_t i = 0;
  while (i < narrow.size()) {
    char16_t unit;
    std::size_t used = decodeAt(t, narrow, i, &unit);
    if (used == 0) break;
    *out++ = unit;
    i += used;
  }
  wide.resize(static_cast<std::size_t>(out - wide.data()));
  return wide;
}

std::string toNarrow(std::u16string_view wide) {
  const CodecTables& t = tables();
  std::string narrow(wide.size() * 2, '\0');
  char* out = narrow.data();
  for (char16_t unit : wide) {
    std::uint16_t code = t.encode[unit];  // surrogates have no entry
    if (code == kNoCode) break;
    if (code < 0x100) {
      *out++ = static_cast<char>(code);
    } else {
      *out++ = static_cast<char>(code >> 8);
      *out++ = static_cast<char>(code & 0xFF);
    }
  }
  narrow.resize(static_cast<std::size_t>(out - narrow.data()));
  return narrow;
}

std::u16string decodeCp932Lenient(std::string_view narrow) {
  const CodecTables& t = tables();
  std::u16string wide(narrow.size(), u'\0');
  char16_t* out = wide.data();
  std::size_t i = 0;
  while (i < narrow.size()) {
    char16_t unit;
    std::size_t used = decodeAt(t, narrow, i, &unit);
    if (used != 0) {
      *out++ = unit;
      i += used;
      continue;
    }
    *out++ = kReplacement;
    unsigned char b = static_cast<unsigned char>(narrow[i]);
    // A lead byte with a bad trail byte swallows the trail byte unless that byte is
    // ASCII, so that markup characters after a broken character are never lost.
    if (t.kind[b] == kLead && i + 1 < narrow.size() &&
        static_cast<unsigned char>(narrow[i + 1]) >= 0x80) {
      i += 2;
    } else {
      i += 1;
    }
  }
  wide.resize(static_cast<std::size_t>(out - wide.data()));
  return wide;
}

bool encodeShiftJisStrict(char32_t codePoint, std::string& out) {
  if (codePoint > 0xFFFF) return false;
  const CodecTables& t = tables();
  std::uint16_t code = t.encode[codePoint];
  if (code == kNoCode) return false;
  if (code < 0x100) {
    // ASCII and half-width katakana only, and only when the byte reads back as the same
    // character (the codec maps some characters, such as the yen sign, to a look-alike).
    bool allowed = code < 0x80 || (code >= 0xA1 && code <= 0xDF);
    if (!allowed || t.kind[code] != kSingle || t.single[code] != codePoint) return false;
    out.push_back(static_cast<char>(code));
    return true;
  }
  unsigned lead = code >> 8;
  unsigned trail = code & 0xFF;
  // Code page 932 extension rows: NEC row 13, NEC-selected IBM rows, user-defined area and
  // IBM rows. Plain Shift_JIS readers do not know them.
  if (lead == 0x87 || lead == 0xED || lead == 0xEE || lead >= 0xF0) return false;
  if (lead < 0x81 || (lead > 0x9F && lead < 0xE0) || lead > 0xEF) return false;
  if (trail < 0x40 || trail == 0x7F || trail > 0xFC) return false;
  if (t.pair[(lead - 0x80) * 256 + trail] != codePoint) return false;
  out.push_back(static_cast<char>(lead));
  out.push_back(static_cast<char>(trail));
  return true;
}

namespace {

// The code point of the strict UTF-8 sequence at s[i] and its length; length 0 when the
// bytes there are no valid sequence.
inline std::size_t readUtf8(const unsigned char* s, std::size_t n, std::size_t i, char32_t* cp) {
  unsigned char b = s[i];
  if (b < 0x80) {
    *cp = b;
    return 1;
  }
  std::size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2, value = b & 0x1F, minimum = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3, value = b & 0x0F, minimum = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4, value = b & 0x07, minimum = 0x10000;
  }
  if (length == 0 || i + length > n) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((s[i + k] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (s[i + k] & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *cp = value;
  return length;
}

// Whether the character travels in narrow text as itself. The yen sign and the overline
// have only look-alike forms in the ASCII range (backslash and tilde), which mean something
// else in talk scripts, so they travel as references instead.
inline bool hasNarrowForm(const CodecTables& t, char32_t cp) {
  if (cp > 0xFFFF) return false;
  std::uint16_t code = t.encode[cp];
  return code != kNoCode && (code >= 0x80 || code == cp);
}

void appendDecimalReference(std::string& out, char32_t cp) {
  char digits[10];
  char* end =
      std::to_chars(digits, digits + sizeof digits, static_cast<std::uint32_t>(cp)).ptr;
  out += "&#";
  out.append(digits, end);
  out += ';';
}

// The reference "&#<decimal>;" at text[i] when it names a character without a narrow form
// (one that appendUtf8AsNarrow writes this way); its length, 0 otherwise.
inline std::size_t readForeignReference(const CodecTables& t, std::string_view text, std::size_t i,
                                        char32_t* cp) {
  if (text.size() - i < 4 || text[i + 1] != '#') return 0;
  std::size_t k = i + 2;
  char32_t value = 0;
  while (k < text.size() && k - i < 10 && text[k] >= '0' && text[k] <= '9') {
    value = value * 10 + static_cast<char32_t>(text[k] - '0');
    ++k;
  }
  if (k == i + 2 || k >= text.size() || text[k] != ';') return 0;
  if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  if (hasNarrowForm(t, value)) return 0;
  *cp = value;
  return k + 1 - i;
}

}  // namespace

bool appendUtf8AsNarrow(std::string_view utf8, std::string& out) {
  const CodecTables& t = tables();
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t n = utf8.size();
  std::size_t i = 0;
  while (i < n) {
    // Runs of ASCII are copied as they stand.
    std::size_t run = i;
    while (run < n && s[run] < 0x80) ++run;
    if (run > i) {
      out.append(utf8.data() + i, run - i);
      i = run;
      continue;
    }
    char32_t cp = 0;
    std::size_t length = readUtf8(s, n, i, &cp);
    if (length == 0) return false;
    i += length;
    if (!hasNarrowForm(t, cp)) {
      appendDecimalReference(out, cp);
      continue;
    }
    std::uint16_t code = t.encode[cp];
    if (code >= 0x100) out += static_cast<char>(code >> 8);
    out += static_cast<char>(code & 0xFF);
  }
  return true;
}

void appendNarrowAsUtf8(std::string_view narrow, std::string& out) {
  const CodecTables& t = tables();
  std::size_t i = 0;
  char buffer[4];
  while (i < narrow.size()) {
    unsigned char b = static_cast<unsigned char>(narrow[i]);
    if (b < 0x80 && b != '&') {
      std::size_t run = i;
      while (run < narrow.size() && static_cast<unsigned char>(narrow[run]) < 0x80 &&
             narrow[run] != '&') {
        ++run;
      }
      out.append(narrow.data() + i, run - i);
      i = run;
      continue;
    }
    char32_t cp = 0;
    if (b == '&') {
      std::size_t used = readForeignReference(t, narrow, i, &cp);
      if (used == 0) {
        out += '&';
        ++i;
        continue;
      }
      out.append(buffer, writeUtf8(buffer, cp));
      i += used;
      continue;
    }
    char16_t unit;
    std::size_t used = decodeAt(t, narrow, i, &unit);
    if (used == 0) {
      unit = kReplacement;
      // As the lenient decoder: a broken pair never swallows an ASCII byte.
      used = t.kind[b] == kLead && i + 1 < narrow.size() &&
                     static_cast<unsigned char>(narrow[i + 1]) >= 0x80
                 ? 2
                 : 1;
    }
    out.append(buffer, writeUtf8(buffer, unit));
    i += used;
  }
}

std::string utf16ToUtf8(std::u16string_view wide) {
  // At most three bytes per unit (a surrogate pair is two units for four bytes).
  std::string out(wide.size() * 3, '\0');
  char* o = out.data();
  std::size_t i = 0;
  while (i < wide.size()) {
    char32_t unit = wide[i];
    if (unit < 0x80) {
      *o++ = static_cast<char>(unit);
      ++i;
      continue;
    }
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      unit = 0x10000 + ((unit - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      unit = kReplacement;  // unpaired surrogate
    }
    ++i;
    o = writeUtf8(o, unit);
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return out;
}

std::u16string utf8ToUtf16(std::string_view utf8) {
  std::u16string out(utf8.size(), u'\0');
  char16_t* o = out.data();
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  std::size_t n = utf8.size();
  std::size_t i = 0;
  while (i < n) {
    unsigned char b = s[i];
    if (b < 0x80) {
      *o++ = b;
      ++i;
      continue;
    }
    char32_t cp = 0;
    std::size_t length = 0;
    char32_t minimum = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2, cp = b & 0x1F, minimum = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3, cp = b & 0x0F, minimum = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4, cp = b & 0x07, minimum = 0x10000;
    }
    bool valid = length != 0 && i + length <= n;
    for (std::size_t k = 1; valid && k < length; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) {
        valid = false;
      } else {
        cp = (cp << 6) | (s[i + k] & 0x3F);
      }
    }
    if (valid && (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) valid = false;
    if (!valid) {
      // One replacement character per byte that cannot start a valid sequence.
      *o++ = kReplacement;
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      *o++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *o++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      *o++ = static_cast<char16_t>(cp);
    }
    i += length;
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return out;
}


namespace codec {

bool decodeWhole(std::string_view narrow, std::u16string& wide) {
  const CodecTables& t = tables();
  wide.assign(narrow.size(), u'\0');
  char16_t* out = wide.data();
  std::size_t i = 0;
  while (i < narrow.size()) {
    char16_t unit;
    std::size_t used = decodeAt(t, narrow, i, &unit);
    if (used == 0) {
      wide.clear();
      return false;
    }
    *out++ = unit;
    i += used;
  }
  wide.resize(static_cast<std::size_t>(out - wide.data()));
  return true;
}

}  // namespace codec

}  // namespace zelka
