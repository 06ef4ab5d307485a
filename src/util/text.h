// Text utilities shared by the readers, the interpreter and the event handling. Narrow text is
// Shift_JIS; functions that must not split a two-byte character say which lead-byte rule they use.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/text_codec.h"  // toWide, toNarrow

namespace zelka {

// Remove the one-byte token (a space by default) from the start / end / both ends.
std::string& trimLeft(std::string& text, char token = ' ');
std::string& trimRight(std::string& text, char token = ' ');
std::string& trim(std::string& text, char token = ' ');

// Every tab becomes one space.
bool tabsToSpaces(std::u16string& text);
bool tabsToSpaces(std::string& text);

// Removes leading spaces and collapses runs of spaces outside double-quoted stretches to one.
// Narrow rule: any byte >= 0x81 starts a two-byte character.
bool collapseSpaces(std::string& text);
bool collapseSpaces(std::u16string& text);

// Splits at the separator outside double quotes; quotes stay in the pieces; empty pieces
// between separators count, a final empty piece is dropped. Narrow rule: a byte >= 0x81
// followed by a byte >= 0x40 is one two-byte character. An empty separator gives false.
bool splitQuoted(std::string_view text, std::string_view separator,
                 std::vector<std::u16string>& pieces);
bool splitQuoted(std::u16string_view text, std::u16string_view separator,
                 std::vector<std::u16string>& pieces);
// The same split keeping narrow pieces (used by the meta elements' item lists).
bool splitQuotedNarrow(std::string_view text, std::string_view separator,
                       std::vector<std::string>& pieces);

// Removes one enclosing pair (opening, closing) when the text has at least two bytes, begins
// with the opening byte, ends with the closing byte and, for texts longer than two bytes, the
// byte before the closing one is not a backslash.
bool stripEnclosing(std::string& text, char opening, char closing);

// Text that came from outside (a request) on its way to talk: every backslash becomes the
// host's literal-backslash form "\\", so the host shows it instead of running it as a tag.
// A two-byte Shift_JIS character is stepped over whole (its trail byte may be 0x5C).
std::string doubleBackslashes(std::string_view text);
// The inverse, for the places where such a text leaves as a protocol value instead of talk:
// every "\\" becomes one backslash; two-byte characters are stepped over whole.
std::string undoubleBackslashes(std::string_view text);

// "dir/sub/name.ext" -> "name.ext" for path text (both '/' and '\\' separate; a drive "C:" is
// dropped; path_text.h says where a separator can hide inside a character).
std::string fileNameOf(std::string_view path);

}  // namespace zelka
