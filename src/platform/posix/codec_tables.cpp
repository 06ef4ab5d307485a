// The code page 932 tables on POSIX. iconv ("CP932") is asked once, at first use, for every
// single byte, every lead/trail pair and every BMP code point.
#include "platform/codec_tables.h"

#include <iconv.h>

#include <cerrno>
#include <cstddef>

namespace zelka::codec {
namespace {

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

}  // namespace

void buildCodecTables(CodecTables& t) {
  iconv_t toUnicode = iconv_open("UTF-16LE", "CP932");
  iconv_t fromUnicode = iconv_open("CP932", "UTF-16LE");
  if (toUnicode == reinterpret_cast<iconv_t>(-1) || fromUnicode == reinterpret_cast<iconv_t>(-1)) {
    if (toUnicode != reinterpret_cast<iconv_t>(-1)) iconv_close(toUnicode);
    if (fromUnicode != reinterpret_cast<iconv_t>(-1)) iconv_close(fromUnicode);
    fillFallbackTables(t);
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

}  // namespace zelka::codec
