#include "terminal_text.h"

#include <cstdio>

#include "platform/path_text.h"
#include "platform/text_codec.h"

namespace zelka::host {

namespace {

std::string hexByte(unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(byte));
  return text;
}

std::string codePointName(char32_t cp) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(cp));
  return text;
}

// Decodes the well-formed UTF-8 sequence at `at` (checked beforehand); answers its length.
std::size_t decodeUtf8(std::string_view utf8, std::size_t at, char32_t& cp) {
  const auto b = static_cast<unsigned char>(utf8[at]);
  std::size_t length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
  if (at + length > utf8.size()) length = utf8.size() - at;
  cp = length == 1 ? b : length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
  for (std::size_t k = 1; k < length; ++k) {
    cp = (cp << 6) | (static_cast<unsigned char>(utf8[at + k]) & 0x3F);
  }
  return length == 0 ? 1 : length;
}

bool isWide(char32_t cp) {
  return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0x303E) ||
         (cp >= 0x3041 && cp <= 0x33FF) || (cp >= 0x3400 && cp <= 0x4DBF) ||
         (cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0xA000 && cp <= 0xA4CF) ||
         (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
         (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
         (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1F64F) ||
         (cp >= 0x20000 && cp <= 0x3FFFD);
}

}  // namespace

std::optional<std::size_t> findInvalidUtf8(std::string_view utf8) {
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      if (b == 0xE0) low = 0xA0;        // overlong
      if (b == 0xED) high = 0x9F;       // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      if (b == 0xF0) low = 0x90;        // overlong
      if (b == 0xF4) high = 0x8F;       // above U+10FFFF
    } else {
      return i;
    }
    for (std::size_t k = 1; k < length; ++k) {
      if (i + k >= utf8.size()) return i;
      const auto c = static_cast<unsigned char>(utf8[i + k]);
      const unsigned char lo = k == 1 ? low : 0x80;
      const unsigned char hi = k == 1 ? high : 0xBF;
      if (c < lo || c > hi) return i;
    }
    i += length;
  }
  return std::nullopt;
}

bool terminalToShiftJis(std::string_view utf8, std::string& sjis, std::string& error) {
  sjis.clear();
  error.clear();
  if (std::optional<std::size_t> bad = findInvalidUtf8(utf8)) {
    error = "the text is not valid UTF-8 (byte " +
            hexByte(static_cast<unsigned char>(utf8[*bad])) + " at column " +
            std::to_string(*bad + 1) + ")";
    return false;
  }
  std::string out;
  std::size_t i = 0;
  while (i < utf8.size()) {
    char32_t cp = 0;
    const std::size_t length = decodeUtf8(utf8, i, cp);
    if ((cp < 0x20 && cp != '\t') || cp == 0x7F) {
      error = "the text holds the control character " + codePointName(cp) +
              " (column " + std::to_string(i + 1) + ")";
      return false;
    }
    std::string piece;
    if (cp < 0x80) {
      piece.assign(1, static_cast<char>(cp));
    } else {
      piece = toNarrow(utf8ToUtf16(utf8.substr(i, length)));
    }
    if (piece.empty()) {
      error = "the character " + std::string(utf8.substr(i, length)) + " (" +
              codePointName(cp) + ") has no Shift_JIS form";
      return false;
    }
    out += piece;
    i += length;
  }
  sjis = std::move(out);
  return true;
}

std::size_t shiftJisCharLength(std::string_view sjis, std::size_t at) {
  if (at >= sjis.size()) return 0;
  const auto b = static_cast<unsigned char>(sjis[at]);
  if (b < 0x80) return 1;
  const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  if (lead) {
    if (at + 1 < sjis.size() && toWide(sjis.substr(at, 2)).size() == 1) return 2;
    return 0;
  }
  return toWide(sjis.substr(at, 1)).size() == 1 ? 1 : 0;
}

std::optional<std::size_t> findInvalidShiftJis(std::string_view sjis) {
  for (std::size_t i = 0; i < sjis.size();) {
    const std::size_t length = shiftJisCharLength(sjis, i);
    if (length == 0) return i;
    i += length;
  }
  return std::nullopt;
}

std::string shiftJisToDisplay(std::string_view sjis) {
  std::string out;
  std::size_t runStart = 0;
  auto flush = [&](std::size_t end) {
    if (end > runStart) out += utf16ToUtf8(toWide(sjis.substr(runStart, end - runStart)));
  };
  std::size_t i = 0;
  while (i < sjis.size()) {
    const auto b = static_cast<unsigned char>(sjis[i]);
    const bool control = (b < 0x20 && b != '\t') || b == 0x7F;
    const std::size_t length = control ? 0 : shiftJisCharLength(sjis, i);
    if (length != 0) {
      i += length;
      continue;
    }
    flush(i);
    out += "<" + hexByte(static_cast<unsigned char>(sjis[i])) + ">";
    ++i;
    runStart = i;
  }
  flush(i);
  return out;
}

std::string utf8ForDisplay(std::string_view utf8) {
  std::string out;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const std::string_view rest = utf8.substr(i);
    const std::optional<std::size_t> bad = findInvalidUtf8(rest);
    const std::size_t good = bad ? *bad : rest.size();
    for (std::size_t k = 0; k < good; ++k) {
      const auto b = static_cast<unsigned char>(rest[k]);
      if ((b < 0x20 && b != '\t') || b == 0x7F) {
        out += "<" + hexByte(b) + ">";
      } else {
        out += rest[k];
      }
    }
    if (!bad) break;
    out += "<" + hexByte(static_cast<unsigned char>(rest[good])) + ">";
    i += good + 1;
  }
  return out;
}

std::size_t displayWidth(std::string_view utf8) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp = 0;
    i += decodeUtf8(utf8, i, cp);
    width += isWide(cp) ? 2 : 1;
  }
  return width;
}

std::string pathToDisplay(std::string_view path) {
  return pathEncoding() == PathEncoding::kUtf8 ? utf8ForDisplay(path) : shiftJisToDisplay(path);
}

void adoptPathEncoding(std::string_view ghostDirectory) {
  if (pathFromHostDirectory(ghostDirectory, HostDirectoryForm::kUtf8)) {
    setPathEncoding(PathEncoding::kUtf8);
  }
}

}  // namespace zelka::host
