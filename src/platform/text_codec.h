// Conversion between narrow text (Shift_JIS bytes, Windows code page 932) and wide text
// (UTF-16 code units). All narrow text in the module is Shift_JIS; the C locale is not used.
#pragma once

#include <string>
#include <string_view>

namespace zelka {

// Narrow to wide, character by character; stops at the first byte sequence that does not
// convert (what converted before it is kept).
std::u16string toWide(std::string_view narrow);

// Wide to narrow, character by character; stops at the first character that has no
// code page 932 form.
std::string toNarrow(std::u16string_view wide);

// Whole-buffer lenient decoding for files written by other tools: every byte sequence that
// does not convert becomes U+FFFD and decoding goes on.
std::u16string decodeCp932Lenient(std::string_view narrow);

// Encodes one Unicode code point strictly as JIS X 0208 Shift_JIS (ASCII included). Returns
// false for characters with no Shift_JIS form or with only a code page 932 extension form
// (NEC row 13, NEC-selected and IBM extension rows, user-defined area); the caller then
// writes a numeric character reference.
bool encodeShiftJisStrict(char32_t codePoint, std::string& out);

// UTF-8 protocol text <-> narrow text. A character without a code page 932 form travels in
// narrow text as a decimal numeric character reference ("&#128512;"), the form the stores
// write such characters in, so that it survives variables, scripts and stores unchanged.
// appendUtf8AsNarrow appends the conversion of strict UTF-8 (no overlong forms, surrogates
// or code points above U+10FFFF) and answers false at the first byte that is not; out then
// holds what converted before it. appendNarrowAsUtf8 decodes leniently (a byte sequence
// that does not convert becomes U+FFFD) and turns back into the character exactly those
// references whose character has no code page 932 form; any other reference stays text.
// Both only append to out: a caller that reuses its buffer allocates nothing per call.
bool appendUtf8AsNarrow(std::string_view utf8, std::string& out);
void appendNarrowAsUtf8(std::string_view narrow, std::string& out);

// UTF-8 <-> UTF-16 for the XML layer (pugixml speaks UTF-8).
std::string utf16ToUtf8(std::u16string_view wide);
std::u16string utf8ToUtf16(std::string_view utf8);

}  // namespace zelka
