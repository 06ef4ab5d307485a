// The number format a script chooses with a cast (the reflex and formula elements print
// numbers through it), and the cast text of an element's argument group.
//
// The cast keywords are "int" and "abs" (no decimals), "float" (six decimals) and "double"
// (scientific, three-digit exponent); an empty cast means "int". Any other cast is a format
// for one floating-point value. Only one floating conversion (%e %E %f %F %g %G %a %A with
// flags, width and precision) is honoured, plus literal text and "%%"; every other
// conversion, a second one, or a '*' is written out literally. Widths and precisions are
// capped and the whole text is cut at 2,047 bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zelka {

inline constexpr std::size_t kNumberFormatLimit = 2047;

std::string formatWithCast(double value, std::string_view cast);

// The argument text without one enclosing "()" pair, then without blanks and double quotes
// at either end.
std::string castOfArguments(std::string_view argumentText);

}  // namespace zelka
