#include "util/text_encoding.h"

#include <cstdint>
#include <cstring>
#include <string_view>

namespace zelka {

std::size_t firstInvalidUtf8Byte(std::string_view s) {
  const auto* begin = reinterpret_cast<const unsigned char*>(s.data());
  const auto* p = begin;
  const auto* end = p + s.size();
  while (p < end) {
    // Eight ASCII bytes at a time: the common case of markup, numbers and script tags.
    while (end - p >= 8) {
      std::uint64_t block;
      std::memcpy(&block, p, 8);
      if (block & 0x8080808080808080ULL) break;
      p += 8;
    }
    if (p >= end) break;
    unsigned c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int length;
    unsigned minimum;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
      minimum = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      minimum = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      minimum = 0x10000;
    } else {
      return static_cast<std::size_t>(p - begin);
    }
    if (end - p < length) return static_cast<std::size_t>(p - begin);
    unsigned cp = c & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
      unsigned t = p[k];
      if ((t & 0xC0) != 0x80) return static_cast<std::size_t>(p - begin);
      cp = (cp << 6) | (t & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return static_cast<std::size_t>(p - begin);
    }
    p += length;
  }
  return std::string_view::npos;
}

bool isValidUtf8(std::string_view s) { return firstInvalidUtf8Byte(s) == std::string_view::npos; }

std::size_t firstNonShiftJisByte(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    unsigned c = p[i];
    if (c < 0x80 || (c >= 0xA1 && c <= 0xDF)) {  // ASCII, half-width katakana
      ++i;
      continue;
    }
    const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    if (!lead || i + 1 >= text.size()) return i;
    unsigned t = p[i + 1];
    if (t < 0x40 || t == 0x7F || t > 0xFC) return i;
    i += 2;
  }
  return std::string_view::npos;
}

TextEncoding detectTextEncoding(std::string_view text) {
  if (text.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark) return TextEncoding::kUtf8;
  bool multiByte = false;
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      multiByte = true;
      break;
    }
  }
  if (!multiByte) return TextEncoding::kAscii;
  if (isValidUtf8(text)) return TextEncoding::kUtf8;
  if (firstNonShiftJisByte(text) == std::string_view::npos) return TextEncoding::kShiftJis;
  return TextEncoding::kUnknown;
}

}  // namespace zelka
