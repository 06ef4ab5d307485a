// The code page 932 codec on POSIX. iconv ("CP932") is asked once, at first use, for every
// single byte, every lead/trail pair and every BMP code point; all conversions then run
// through the resulting tables. This keeps per-character conversion cheap (the XML layer
// converts whole multi-megabyte files) and makes the results independent of the C locale.
#include "platform/text_codec.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstdint>

namespace zelka {
namespace {

constexpr char16_t kNoChar = 0xFFFF;       // no character for this byte sequence
constexpr std::uint16_t kNoCode = 0xFFFF;  // no code page 932 form for this code point
constexpr char16_t kReplacement = 0xFFFD;

enum ByteKind : std::uint8_t { kInvalid = 0, kSingle = 1, kLead = 2 };

struct CodecTables {
  std::array<ByteKind, 256> kind{};
  std::array<char16_t, 256> single{};
  // Indexed by (lead - 0x80) * 256 + trail; only lead bytes 0x80-0xFF can be leads.
  std::array<char16_t, 128 * 256> pair{};
  // Code point -> byte form: values below 0x100 are one byte, larger values two bytes
  // (lead in the high byte); kNoCode when there is none.
  std::array<std::uint16_t, 0x10000> encode{};
};

// Runs one stateless iconv conversion of a short input. Returns the number of output
// bytes, or -1 when the input does not convert completely; *incomplete is set when the
// input ended in the middle of a sequence.
int convertOnce(iconv_t cd, const unsigned char* in, std::size_t inLen, unsigned char* out,
                std::size_t outCap, bool* incomplete) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* inPtr = reinterpret_cast<char*>(const_cast<unsigned char*>(in));
  char* outPtr = reinterpret_cast<char*>(out);
  std::size_t inLeft = inLen;
  std::size_t outLeft = outCap;
  std::size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  if (incomplete) *incomplete = (result == static_cast<std::size_t>(-1) && errno == EINVAL);
  if (result == static_cast<std::size_t>(-1) || inLeft != 0) return -1;
  // Flush any pending shift state (none for these encodings, but harmless).
  if (iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) return -1;
  return static_cast<int>(outCap - outLeft);
}

// Decodes a UTF-16LE result of exactly one BMP character.
bool oneUnit(const unsigned char* bytes, int count, char16_t* unit) {
  if (count != 2) return false;
  char16_t value = static_cast<char16_t>(bytes[0] | (bytes[1] << 8));
  if (value >= 0xD800 && value <= 0xDFFF) return false;
  *unit = value;
  return true;
}

void fillFallback(CodecTables& t) {
  // Without iconv only ASCII and half-width katakana are known.
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

void buildTables(CodecTables& t) {
  t.kind.fill(kInvalid);
  t.single.fill(kNoChar);
  t.pair.fill(kNoChar);
  t.encode.fill(kNoCode);

  iconv_t toUnicode = iconv_open("UTF-16LE", "CP932");
  iconv_t fromUnicode = iconv_open("CP932", "UTF-16LE");
  if (toUnicode == reinterpret_cast<iconv_t>(-1) || fromUnicode == reinterpret_cast<iconv_t>(-1)) {
    if (toUnicode != reinterpret_cast<iconv_t>(-1)) iconv_close(toUnicode);
    if (fromUnicode != reinterpret_cast<iconv_t>(-1)) iconv_close(fromUnicode);
    fillFallback(t);
    return;
  }

  unsigned char out[16];
  for (int b = 0; b < 256; ++b) {
    unsigned char in[2] = {static_cast<unsigned char>(b), 0};
    bool incomplete = false;
    int n = convertOnce(toUnicode, in, 1, out, sizeof out, &incomplete);
    char16_t unit;
    if (n >= 0 && oneUnit(out, n, &unit)) {
      t.kind[b] = kSingle;
      t.single[b] = unit;
    } else if (incomplete && b >= 0x80) {
      t.kind[b] = kLead;
    }
  }
  for (int lead = 0x80; lead < 256; ++lead) {
    if (t.kind[lead] != kLead) continue;
    for (int trail = 0; trail < 256; ++trail) {
      unsigned char in[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
      int n = convertOnce(toUnicode, in, 2, out, sizeof out, nullptr);
      char16_t unit;
      if (n >= 0 && oneUnit(out, n, &unit)) t.pair[(lead - 0x80) * 256 + trail] = unit;
    }
  }
  for (std::uint32_t cp = 0; cp < 0x10000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    unsigned char in[2] = {static_cast<unsigned char>(cp & 0xFF),
                           static_cast<unsigned char>(cp >> 8)};
    int n = convertOnce(fromUnicode, in, 2, out, sizeof out, nullptr);
    if (n == 1) {
      t.encode[cp] = out[0];
    } else if (n == 2 && out[0] >= 0x80) {
      t.encode[cp] = static_cast<std::uint16_t>((out[0] << 8) | out[1]);
    }
  }
  iconv_close(toUnicode);
  iconv_close(fromUnicode);
}

const CodecTables& tables() {
  // Built once, thread-safely, in static storage: the tables have a trivial destructor, so
  // conversions stay valid while other static objects are torn down at unload, and nothing
  // is left behind in the host's process when the module is unmapped.
  static CodecTables storage;
  static const bool built = (buildTables(storage), true);
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

}  // namespace zelka
