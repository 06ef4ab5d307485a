#include "util/author_text.h"

#include <cstdio>

#include "platform/text_codec.h"
#include "util/text_encoding.h"

namespace zelka {
namespace {

bool isShiftJisLeadByte(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Characters in Shift_JIS text the codec wrote (every lead byte has its trail byte).
std::size_t shiftJisCharacters(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++count) {
    i += isShiftJisLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
  }
  return count;
}

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Converts one line of UTF-16 text, appending to out; characters without a form are counted
// into text (the first one located at lineNumber).
void convertLine(std::u16string_view wide, std::size_t lineNumber, std::string& out,
                 AuthorText& text) {
  std::size_t position = 0;    // in UTF-16 units
  std::size_t characters = 0;  // before position
  while (position < wide.size()) {
    // The codec converts up to the first character it has no form for.
    const std::string part = toNarrow(wide.substr(position));
    out += part;
    const std::size_t converted = shiftJisCharacters(part);
    position += converted;  // every converted character is one UTF-16 unit
    characters += converted;
    if (position >= wide.size()) break;

    char32_t codePoint = wide[position];
    std::size_t units = 1;
    if (isHighSurrogate(wide[position]) && position + 1 < wide.size() &&
        isLowSurrogate(wide[position + 1])) {
      codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (wide[position + 1] - 0xDC00);
      units = 2;
    }
    if (text.unconvertible++ == 0) {
      text.line = lineNumber;
      text.column = characters + 1;
      text.codePoint = codePoint;
    }
    position += units;
    ++characters;
  }
}

}  // namespace

std::string_view beforeEndOfText(std::string_view bytes) {
  return bytes.substr(0, bytes.find(kEndOfTextByte));
}

AuthorText readAuthorText(std::string bytes) {
  AuthorText text;
  if (detectTextEncoding(bytes) != TextEncoding::kUtf8) {
    text.bytes = std::move(bytes);
    return text;
  }
  std::string_view utf8(bytes);
  if (utf8.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark) {
    utf8.remove_prefix(kUtf8ByteOrderMark.size());
  }
  if (!isValidUtf8(utf8)) {
    text.form = AuthorText::Form::kNotConvertible;
    text.unconvertible = 1;
    return text;
  }

  std::string converted;
  converted.reserve(utf8.size());
  std::size_t lineNumber = 1;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = utf8.find('\n', start);
    const std::string_view line =
        utf8.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    convertLine(utf8ToUtf16(line), lineNumber, converted, text);
    if (end == std::string_view::npos) break;
    converted.push_back('\n');
    start = end + 1;
    ++lineNumber;
  }
  if (text.unconvertible > 0) {
    text.form = AuthorText::Form::kNotConvertible;
    return text;
  }
  text.form = AuthorText::Form::kConvertedFromUtf8;
  text.bytes = std::move(converted);
  return text;
}

std::string describeNotConvertible(const AuthorText& text) {
  if (text.line == 0) {
    return "the file begins with a UTF-8 byte-order mark but is not valid UTF-8";
  }
  char codePoint[16];
  std::snprintf(codePoint, sizeof codePoint, "U+%04X", static_cast<unsigned>(text.codePoint));
  std::string description = "saved as UTF-8, and the character " + std::string(codePoint) +
                            " (column " + std::to_string(text.column) +
                            ") has no Shift_JIS form";
  if (text.unconvertible > 1) {
    const std::size_t more = text.unconvertible - 1;
    description += ", nor " + std::string(more == 1 ? "has " : "have ") + std::to_string(more) +
                   " more";
  }
  return description;
}

}  // namespace zelka
