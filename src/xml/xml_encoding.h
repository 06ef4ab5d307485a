// The bytes of an XML file and the text the DOM holds. The DOM always holds UTF-8; a file is
// read in the encoding its declaration names (Shift_JIS and its aliases, decoded leniently as
// code page 932, or UTF-8, also when it names none) and written back strictly in it: a
// character Shift_JIS cannot hold becomes a character reference, never dropped. Text handed
// in from outside is cleaned of what XML cannot carry before it reaches the DOM. Used by the
// xml layer only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelka {

// The encodings a declaration may name; Unknown for every other name.
enum class XmlFileEncoding { Utf8, ShiftJis, Unknown };

// The encoding of a declared encoding name, ASCII case ignored ("Shift_JIS", "sjis", "cp932",
// "windows-31j", ... ; "UTF-8", "utf8").
XmlFileEncoding encodingFromName(std::string_view name);

// Turns file bytes into the UTF-8 text the DOM parses; nullopt when the bytes are not in an
// encoding we read (an unknown declared encoding, invalid UTF-8, a UTF-16 file, a byte-order
// mark before a declaration that names another encoding than UTF-8).
std::optional<std::string> decodeFileBytes(std::string_view bytes);

// UTF-8 of UTF-16 text, with every unit XML 1.0 cannot carry (C0 controls other than tab, line
// feed and carriage return, unpaired surrogates, U+FFFE and U+FFFF) replaced by U+FFFD.
std::string toXmlUtf8(std::u16string_view text);

// Re-encodes serialised UTF-8 markup as strict Shift_JIS (JIS X 0208, no code page 932
// extensions). A character with no such form becomes a character reference in text and
// attribute values (a CDATA section is closed around it), '_' in names and '?' in comments and
// processing instructions, where XML has no way to write it.
std::string encodeShiftJis(std::string_view utf8);

}  // namespace zelka
