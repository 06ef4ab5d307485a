// Text between the terminal and the module: the terminal and the play files speak UTF-8, the
// module speaks Shift_JIS (code page 932). Input that cannot be converted is refused with a
// message that says where and why; output is converted for display without losing a byte:
// what is not Shift_JIS is shown as <0xNN>.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zelka::host {

// The offset of the first byte that does not belong to a well-formed UTF-8 sequence
// (overlong forms, surrogates and code points above U+10FFFF included), or nullopt.
std::optional<std::size_t> findInvalidUtf8(std::string_view utf8);

// Converts terminal input to Shift_JIS. False with `error` set (nothing converted) when the
// input is not UTF-8, holds a control character (which would split or cut a request), or
// holds a character that has no Shift_JIS form.
bool terminalToShiftJis(std::string_view utf8, std::string& sjis, std::string& error);

// The byte length of the Shift_JIS character at `at` (1 or 2), or 0 when the bytes there do
// not form a character.
std::size_t shiftJisCharLength(std::string_view sjis, std::size_t at);

// The offset of the first byte that is not part of a Shift_JIS character, or nullopt.
std::optional<std::size_t> findInvalidShiftJis(std::string_view sjis);

// Shift_JIS to UTF-8 for display; every byte that is not part of a character, and every
// control character but the tab (which could steer the terminal), becomes "<0xNN>" and the
// conversion goes on after it.
std::string shiftJisToDisplay(std::string_view sjis);

// A path (path text, platform/path_text.h) for display: under the UTF-8 path encoding as
// utf8ForDisplay shows it, under Shift_JIS as shiftJisToDisplay does.
std::string pathToDisplay(std::string_view path);

// Sets the path encoding for a ghost directory given on the command line: a directory named
// in UTF-8 (as a Linux system names its files) is read, and handed to the module, as UTF-8
// path text; any other is taken as Shift_JIS bytes, as the module's load takes it.
void adoptPathEncoding(std::string_view ghostDirectory);

// Input text echoed for display: well-formed UTF-8 stays, every other byte and every control
// character but the tab becomes "<0xNN>".
std::string utf8ForDisplay(std::string_view utf8);

// Columns the UTF-8 text takes on a terminal (East Asian wide characters take two).
std::size_t displayWidth(std::string_view utf8);

}  // namespace zelka::host
