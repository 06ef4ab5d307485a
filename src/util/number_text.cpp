// Locale-independent number text: std::to_chars / std::from_chars underneath, with the
// exponent and special-value forms of the Windows C runtime on top.
#include "util/number_text.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace zelka {
namespace {

// Precisions past this are cut; printf itself gives no more significant digits.
constexpr int kMaxPrecision = 1000;

int clampPrecision(int precision) {
  if (precision < 0) return 6;  // a negative precision counts as none given
  return precision > kMaxPrecision ? kMaxPrecision : precision;
}

// "1.#INF00" / "-1.#IND00" style text of a non-finite value, without the exponent.
std::string nonFiniteMantissa(double value, int precision) {
  std::string out;
  const char* word;
  if (std::isnan(value)) {
    // The runtime writes the default NaN (sign bit set) as indefinite.
    if (std::signbit(value)) {
      out = "-";
      word = "#IND";
    } else {
      word = "#QNAN";
    }
  } else {
    if (value < 0) out = "-";
    word = "#INF";
  }
  out += "1";
  if (precision > 0) {
    std::string digits = word;
    if (static_cast<int>(digits.size()) > precision) {
      digits.resize(static_cast<std::size_t>(precision));
    } else {
      digits.append(static_cast<std::size_t>(precision) - digits.size(), '0');
    }
    out += ".";
    out += digits;
  }
  return out;
}

bool isBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isHexDigit(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Rough magnitude of a numeral whose value from_chars found out of range: positive means
// it overflowed (the value is infinite), otherwise it underflowed (zero).
long long magnitudeOf(const char* first, const char* last, bool hex) {
  auto digit = hex ? isHexDigit : isDigit;
  const char* p = first;
  long long integerDigits = 0;
  bool seenNonZero = false;
  long long leadingFractionZeros = 0;
  while (p < last && digit(*p)) {
    if (*p != '0') seenNonZero = true;
    if (seenNonZero) ++integerDigits;
    ++p;
  }
  if (p < last && *p == '.') {
    ++p;
    while (p < last && digit(*p)) {
      if (!seenNonZero) {
        if (*p == '0') {
          ++leadingFractionZeros;
        } else {
          seenNonZero = true;
        }
      }
      ++p;
    }
  }
  long long exponent = 0;
  if (p < last && (*p == (hex ? 'p' : 'e') || *p == (hex ? 'P' : 'E'))) {
    ++p;
    bool negative = false;
    if (p < last && (*p == '+' || *p == '-')) negative = *p++ == '-';
    while (p < last && isDigit(*p)) {
      if (exponent < 1000000000LL) exponent = exponent * 10 + (*p - '0');
      ++p;
    }
    if (negative) exponent = -exponent;
  }
  long long scale = hex ? 4 : 1;  // a hex digit is four binary places
  long long position = integerDigits > 0 ? integerDigits * scale : -leadingFractionZeros * scale;
  return position + exponent;
}

// strtod on ASCII text.
double parseAsciiDouble(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isBlank(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const char* first = text.data() + i;
  const char* last = text.data() + text.size();

  double value = 0.0;
  bool hex = false;
  if (last - first >= 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X')) {
    const char* digits = first + 2;
    bool hasDigit = digits < last && (isHexDigit(*digits) ||
                                      (*digits == '.' && digits + 1 < last && isHexDigit(digits[1])));
    if (hasDigit) {
      first = digits;
      hex = true;
    }
  }
  std::from_chars_result result =
      std::from_chars(first, last, value, hex ? std::chars_format::hex : std::chars_format::general);
  if (result.ec == std::errc::invalid_argument) {
    value = 0.0;  // no valid prefix ("0x" alone was handled as the numeral 0 above)
  } else if (result.ec == std::errc::result_out_of_range) {
    value = magnitudeOf(first, result.ptr, hex) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return negative ? -value : value;
}

}  // namespace

std::string formatScientific(double value, int precision) {
  precision = clampPrecision(precision);
  if (!std::isfinite(value)) return nonFiniteMantissa(value, precision) + "e+000";
  std::vector<char> buffer(static_cast<std::size_t>(precision) + 32);
  std::to_chars_result result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                              std::chars_format::scientific, precision);
  std::string text(buffer.data(), result.ptr);
  // Widen the exponent to three digits: "e-01" -> "e-001".
  std::size_t e = text.find('e');
  if (e != std::string::npos && e + 2 <= text.size()) {
    std::size_t digits = text.size() - (e + 2);
    if (digits < 3) text.insert(e + 2, 3 - digits, '0');
  }
  return text;
}

std::string formatFixed(double value, int precision) {
  precision = clampPrecision(precision);
  if (!std::isfinite(value)) return nonFiniteMantissa(value, precision);
  std::vector<char> buffer(static_cast<std::size_t>(precision) + 400);
  std::to_chars_result result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                              std::chars_format::fixed, precision);
  return std::string(buffer.data(), result.ptr);
}

double parseDoublePrefix(std::string_view text) { return parseAsciiDouble(text); }

double parseDoublePrefix(std::u16string_view text) {
  // Only ASCII can belong to a numeral; the first other unit ends it.
  std::string ascii;
  ascii.reserve(text.size());
  for (char16_t unit : text) {
    if (unit == 0 || unit >= 0x80) break;
    ascii.push_back(static_cast<char>(unit));
  }
  return parseAsciiDouble(ascii);
}

long long parseIntegerPrefix(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isBlank(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Accumulate towards the negative side, which holds one more value than the positive.
  long long value = 0;
  bool saturated = false;
  for (; i < text.size() && isDigit(text[i]); ++i) {
    int digit = text[i] - '0';
    if (saturated) continue;
    if (value < (LLONG_MIN + digit) / 10) {
      saturated = true;
      continue;
    }
    value = value * 10 - digit;
  }
  if (saturated) return negative ? LLONG_MIN : LLONG_MAX;
  if (negative) return value;
  return value == LLONG_MIN ? LLONG_MAX : -value;
}

std::int32_t parseInt32Prefix(std::string_view text) {
  long long value = parseIntegerPrefix(text);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

}  // namespace zelka
