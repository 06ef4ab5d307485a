// The text of a file an author wrote (a dictionary, a knowledge file) as the module reads it:
// Shift_JIS (code page 932) bytes, up to the end of the text.
//
// End of the text: the module's files were first read in text mode, where a byte 0x1A ends the
// file; old editors still append one. Dictionaries and plain knowledge files end there. (The
// byte can never be part of a Shift_JIS or UTF-8 character.) A complemented knowledge file is
// read past it: there 0x1A is a complemented 0xE5, the lead byte of many kanji.
//
// Encoding: an editor set to UTF-8 saves Japanese text that, read as Shift_JIS, turns into
// other valid-looking characters. A text that detectTextEncoding takes for UTF-8 is converted
// to Shift_JIS instead, character by character (a leading byte-order mark dropped), so that it
// reads exactly as the same text saved as Shift_JIS would. A character without a code page 932
// form (an emoji, a rare kanji) cannot be written in such a file at all: the conversion then
// fails and names the first one, so that the caller refuses the file rather than drop or
// replace a character silently. Any other text is read as it was saved.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zelka {

inline constexpr char kEndOfTextByte = '\x1A';

// The bytes before the first end-of-text byte (all of them when there is none).
std::string_view beforeEndOfText(std::string_view bytes);

struct AuthorText {
  enum class Form {
    kAsSaved,            // Shift_JIS or plain ASCII (or bytes of no known encoding)
    kConvertedFromUtf8,  // UTF-8, converted
    kNotConvertible,     // UTF-8 that has no Shift_JIS form: see the fields below
  };
  Form form = Form::kAsSaved;
  std::string bytes;  // the Shift_JIS text to read; empty when not convertible

  // kNotConvertible: the first character without a Shift_JIS form (line and column counted
  // in characters, from 1) and how many the text holds in all. Line 0: the text begins with
  // a UTF-8 byte-order mark but is not valid UTF-8.
  std::size_t line = 0;
  std::size_t column = 0;
  char32_t codePoint = 0;
  std::size_t unconvertible = 0;
};

// The text of a file's bytes, converted from UTF-8 where they are UTF-8.
AuthorText readAuthorText(std::string bytes);

// What is wrong with a text that could not be converted, for a message to its author: "saved
// as UTF-8, and the character U+1F600 (column 4) has no Shift_JIS form, nor have 2 more".
std::string describeNotConvertible(const AuthorText& text);

}  // namespace zelka
