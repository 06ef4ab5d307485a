// Telling which encoding a text file was saved in. The module's files are Shift_JIS (code page
// 932) by contract, but authors' editors often save UTF-8, and Japanese UTF-8 text read as
// Shift_JIS turns into other, valid-looking characters (ハリ becomes 繝上リ): most UTF-8
// sequences of kana and kanji are also valid Shift_JIS byte pairs. The reverse does not hold:
// Shift_JIS Japanese text is almost never valid UTF-8 (its second bytes and most lead bytes are
// not where UTF-8 allows them). So a text that is valid UTF-8 and holds at least one multi-byte
// sequence, or begins with the UTF-8 byte-order mark, is taken for UTF-8.
#pragma once

#include <cstddef>
#include <string_view>

namespace zelka {

enum class TextEncoding {
  kAscii,     // 7-bit bytes only: the same in both encodings
  kShiftJis,  // every byte is ASCII, half-width katakana or a lead byte with a valid trail byte
  kUtf8,      // valid UTF-8 with multi-byte sequences, or a UTF-8 byte-order mark
  kUnknown,   // neither: bytes that are not Shift_JIS (a binary file, another encoding)
};

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text);

// The offset of the first byte that starts no valid strict UTF-8 sequence; npos when there is
// none.
std::size_t firstInvalidUtf8Byte(std::string_view text);

// The offset of the first byte that does not belong to a Shift_JIS (code page 932) text: a
// byte that cannot start a character, or a lead byte without a valid trail byte. npos when
// every byte does.
std::size_t firstNonShiftJisByte(std::string_view text);

TextEncoding detectTextEncoding(std::string_view text);

// The UTF-8 byte-order mark.
inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

}  // namespace zelka
