// The bytes of an XML file and the text the DOM holds. The DOM always holds UTF-8. A file is
// read in the encoding its byte-order mark and declaration name, as a conforming XML reader
// reads it: UTF-8 (also when it names none), UTF-16 of either byte order, US-ASCII,
// ISO-8859-1, EUC-JP, and Shift_JIS and its aliases, the last decoded leniently as code page
// 932 (odd byte pairs become U+FFFD: hosts and other tools write them). Files are written back
// strictly in UTF-8 or Shift_JIS (a character Shift_JIS cannot hold becomes a character
// reference, never dropped); a file read in another encoding is written back as Shift_JIS.
// Text handed in from outside is cleaned of what XML cannot carry before it reaches the DOM.
// Used by the xml layer only.
#pragma once

#include <string>
#include <string_view>

namespace zelka {

// The encodings a declaration may name; Unknown for every other name. Only Utf8 and ShiftJis
// are written.
enum class XmlFileEncoding { Utf8, ShiftJis, Utf16, Ascii, Latin1, EucJp, Unknown };

// The encoding of a declared encoding name, ASCII case ignored ("Shift_JIS", "sjis", "cp932",
// "windows-31j", ... ; "UTF-8", "utf8"; "UTF-16"; "US-ASCII", "ascii"; "ISO-8859-1",
// "latin1"; "EUC-JP", "eucjp", ...).
XmlFileEncoding encodingFromName(std::string_view name);

// A file's text as UTF-8, the encoding it was read in, or what is wrong with its bytes.
struct DecodedXml {
  std::string text;
  XmlFileEncoding encoding = XmlFileEncoding::Utf8;
  std::string problem;  // "line 1, column 31: ..." ; empty when the bytes were read
};

// Turns file bytes into the UTF-8 text the DOM parses. A problem when the declaration names an
// encoding we do not read, contradicts the byte-order mark, or the bytes are not in the
// encoding (invalid UTF-8 or US-ASCII, an unpaired UTF-16 surrogate, a broken EUC-JP sequence
// or a JIS X 0212 character, which EUC-JP files seldom hold and code page 932 cannot).
DecodedXml decodeFileBytes(std::string_view bytes);

// "line L, column C" of a byte offset into UTF-8 text (both counted from 1, columns in
// characters).
std::string positionOf(std::string_view utf8, std::size_t offset);

// UTF-8 of UTF-16 text, with every unit XML 1.0 cannot carry (C0 controls other than tab, line
// feed and carriage return, unpaired surrogates, U+FFFE and U+FFFF) replaced by U+FFFD.
std::string toXmlUtf8(std::u16string_view text);

// Re-encodes serialised UTF-8 markup as strict Shift_JIS (JIS X 0208, no code page 932
// extensions). A character with no such form becomes a character reference in text and
// attribute values (a CDATA section is closed around it), '_' in names and '?' in comments and
// processing instructions, where XML has no way to write it.
std::string encodeShiftJis(std::string_view utf8);

}  // namespace zelka
