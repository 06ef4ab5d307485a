// Splitting an event reference into pieces by a separation expression such as "*," or
// "<*>". The expression holds one wildcard "*" (an escaped "\*" before it is a literal star);
// the text before the wildcard is the prefix that opens a piece and the text after it is the
// suffix that closes one. Neither belongs to a piece, and a prefix drops the bytes of the
// open piece before it (once per piece: a second prefix inside a piece is text). A piece ends wherever the suffix begins (it may be empty); an
// empty suffix matches at every one-byte character and consumes it. The bytes after the last
// suffix form the last piece when there are any.
//
// Texts are Shift_JIS bytes: a byte of 0x81 or more starts a two-byte character, which is
// stepped over whole and never matched, neither by the wildcard search nor against the prefix
// or suffix. An expression without a wildcard reads its first character as the wildcard.
// Work is linear in the text length times the expression length; nothing here recurses.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zelka {

// The prefix and suffix around the wildcard of an expression, escapes resolved.
struct SeparationExpression {
  std::string prefix;
  std::string suffix;
};

SeparationExpression parseSeparationExpression(std::string_view expression);

// Appends the pieces of text to out; answers the number appended. An empty expression gives
// the whole text as one piece (none for an empty text).
std::size_t splitBySeparation(std::string_view text, std::string_view expression,
                              std::vector<std::string>& out);

}  // namespace zelka
