// Number <-> text conversions that behave the same on every platform and never depend on
// the C locale. Exponents are written with at least three digits, as the Windows C runtime
// writes them: "%.15e" of 0.5 is "5.000000000000000e-001", "%e" of 7 is "7.000000e+000".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelka {

// printf "%.<precision>e" with a three-digit (or wider) exponent. Infinity and NaN are
// written as the Windows C runtime writes them ("1.#INF00e+000", "-1.#INF00e+000",
// "1.#QNAN0e+000" for precision 6; the same shape for other precisions).
std::string formatScientific(double value, int precision = 6);

// The same text written into out[0, capacity) without allocating (no terminating NUL); answers
// its length, or 0 when it does not fit. kScientificCapacity holds every text of a precision
// up to 17 (a double's significant digits), the one for "%.15e" included.
inline constexpr std::size_t kScientificCapacity = 32;
std::size_t formatScientificTo(char* out, std::size_t capacity, double value, int precision);

// printf "%.<precision>f" (locale-independent).
std::string formatFixed(double value, int precision = 6);

// As strtod: skips leading blanks (space, tab, CR, LF, VT, FF), takes the longest valid
// prefix (decimal or hexadecimal float, "inf", "nan"), 0 when there is none.
double parseDoublePrefix(std::string_view text);
double parseDoublePrefix(std::u16string_view text);

// As strtol base 10 / atoi: leading blanks, optional sign, digits; 0 when none.
// Saturates at the limits of long long instead of overflowing.
long long parseIntegerPrefix(std::string_view text);

// The value as a 32-bit signed integer the way atoi reads it on the target platform
// (out-of-range values saturate to INT32_MIN / INT32_MAX).
std::int32_t parseInt32Prefix(std::string_view text);

// Decimal addition of two digit texts, of any length: blanks are collapsed, characters that
// are not digits (a sign) are passed over, and a final carry becomes a leading digit ("999" +
// "1" is "1000", "007" + "1" is "008"). When exactly one text begins with "-" the digits are
// subtracted instead, larger minus smaller, without a sign: the age "-1" plus "1" is "0".
// Both empty give "0". Used for a heard age plus one and by the rand element.
std::string addDecimalTexts(std::string_view a, std::string_view b);

}  // namespace zelka
