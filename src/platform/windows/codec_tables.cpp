// The code page 932 tables on Windows: the kernel's MultiByteToWideChar and
// WideCharToMultiByte are asked once, at first use, for every single byte, every lead/trail
// pair and every BMP code point.
#include "platform/codec_tables.h"

#include <windows.h>

namespace zelka::codec {
namespace {

constexpr UINT kCodePage = 932;

// Decodes one to two bytes into exactly one character; false when they are not one.
bool decodeOne(const char* bytes, int count, char16_t* unit) {
  wchar_t out[4];
  int n = MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes, count, out, 4);
  if (n != 1) return false;
  if (out[0] >= 0xD800 && out[0] <= 0xDFFF) return false;
  *unit = static_cast<char16_t>(out[0]);
  return true;
}

}  // namespace

void buildCodecTables(CodecTables& t) {
  CPINFO info{};
  if (!GetCPInfo(kCodePage, &info)) {
    fillFallbackTables(t);
    return;
  }
  for (int b = 0; b < 256; ++b) {
    char byte = static_cast<char>(b);
    char16_t unit;
    if (b >= 0x80 && IsDBCSLeadByteEx(kCodePage, static_cast<BYTE>(b))) {
      t.kind[b] = kLead;
    } else if (decodeOne(&byte, 1, &unit)) {
      t.kind[b] = kSingle;
      t.single[b] = unit;
    }
  }
  for (int lead = 0x80; lead < 256; ++lead) {
    if (t.kind[lead] != kLead) continue;
    for (int trail = 0; trail < 256; ++trail) {
      char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      char16_t unit;
      if (decodeOne(in, 2, &unit)) t.pair[(lead - 0x80) * 256 + trail] = unit;
    }
  }
  for (std::uint32_t cp = 0; cp < 0x10000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    wchar_t in = static_cast<wchar_t>(cp);
    char out[4];
    BOOL usedDefault = FALSE;
    // No best-fit look-alikes: a character without a form of its own has none.
    int n = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, &in, 1, out, sizeof out,
                                nullptr, &usedDefault);
    if (usedDefault) continue;
    if (n == 1) {
      t.encode[cp] = static_cast<unsigned char>(out[0]);
    } else if (n == 2 && static_cast<unsigned char>(out[0]) >= 0x80) {
      t.encode[cp] = static_cast<std::uint16_t>((static_cast<unsigned char>(out[0]) << 8) |
                                                static_cast<unsigned char>(out[1]));
    }
  }
}

}  // namespace zelka::codec
