// Locale-independent number text: std::to_chars / std::from_chars underneath, with the
// exponent and special-value forms of the Windows C runtime on top.
#include "util/number_text.h"

#include <charconv>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "util/text.h"

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

// ----- The "%.15e" form without the general conversions -----
// Stored distances and totals are written with sixteen significant digits and read back at
// every passage through a node, thousands at a time. For the magnitudes they take, both
// directions are done here exactly: formatting in integer arithmetic, reading with one
// correctly rounded operation. Both give the very text and value the general conversions
// give; anything outside the handled range answers false and takes the general way.

constexpr std::uint64_t kTenPow15 = 1000000000000000ULL;
constexpr std::uint64_t kTenPow16 = 10000000000000000ULL;

#ifdef __SIZEOF_INT128__
using Wide = unsigned __int128;

// 5^0 .. 5^27: the scales of the decimal exponents -12 .. 15.
constexpr std::uint64_t kFivePowers[] = {
    1ULL, 5ULL, 25ULL, 125ULL, 625ULL, 3125ULL, 15625ULL, 78125ULL, 390625ULL,
    1953125ULL, 9765625ULL, 48828125ULL, 244140625ULL, 1220703125ULL, 6103515625ULL,
    30517578125ULL, 152587890625ULL, 762939453125ULL, 3814697265625ULL,
    19073486328125ULL, 95367431640625ULL, 476837158203125ULL, 2384185791015625ULL,
    11920928955078125ULL, 59604644775390625ULL, 298023223876953125ULL,
    1490116119384765625ULL, 7450580596923828125ULL};
constexpr int kMaxFivePower = 27;

// Writes "%.15e" of a normal value of magnitude 1e-12 .. 1e16 (exclusive) into out (room
// for 23 characters) and answers the length; 0 for any other value.
std::size_t formatScientific15(char* out, double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  if (biased == 0 || biased == 0x7FF) return 0;  // zero, subnormal, infinite, NaN
  const std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  const int e2 = biased - 1075;  // |value| = m * 2^e2
  // The decimal exponent k, such that 10^15 <= |value| * 10^(15 - k) < 10^16: estimated from
  // the binary exponent, then corrected by the exact scaled value.
  int k = ((e2 + 52) * 78913) >> 18;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int p = 15 - k;
    if (p < 0 || p > kMaxFivePower) return 0;
    const Wide scaled = static_cast<Wide>(m) * kFivePowers[p];  // |value| * 10^p = scaled * 2^s
    const int s = e2 + p;
    Wide whole;
    bool roundUp = false;
    if (s >= 0) {
      if (s >= 64 || (scaled >> (127 - s)) != 0) return 0;
      whole = scaled << s;
    } else {
      const int shift = -s;
      if (shift >= 127) return 0;
      whole = scaled >> shift;
      const Wide rest = scaled & ((static_cast<Wide>(1) << shift) - 1);
      const Wide half = static_cast<Wide>(1) << (shift - 1);
      // Round to nearest; an exact half goes to the even neighbour.
      roundUp = rest > half || (rest == half && (whole & 1) != 0);
    }
    if (whole < kTenPow15) {
      --k;
      continue;
    }
    if (whole >= kTenPow16) {
      ++k;
      continue;
    }
    std::uint64_t digits = static_cast<std::uint64_t>(whole) + (roundUp ? 1 : 0);
    if (digits == kTenPow16) {  // 9.999...95 rounds up to the next power of ten
      digits = kTenPow15;
      ++k;
    }
    char* at = out;
    if (bits >> 63) *at++ = '-';
    char text[16];
    std::uint32_t high = static_cast<std::uint32_t>(digits / 100000000ULL);
    std::uint32_t low = static_cast<std::uint32_t>(digits % 100000000ULL);
    for (int i = 15; i >= 8; --i, low /= 10) text[i] = static_cast<char>('0' + low % 10);
    for (int i = 7; i >= 0; --i, high /= 10) text[i] = static_cast<char>('0' + high % 10);
    *at++ = text[0];
    *at++ = '.';
    std::memcpy(at, text + 1, 15);
    at += 15;
    *at++ = 'e';
    *at++ = k < 0 ? '-' : '+';
    const int magnitude = k < 0 ? -k : k;
    *at++ = static_cast<char>('0' + magnitude / 100);
    *at++ = static_cast<char>('0' + magnitude / 10 % 10);
    *at++ = static_cast<char>('0' + magnitude % 10);
    return static_cast<std::size_t>(at - out);
  }
  return 0;
}
#else
std::size_t formatScientific15(char*, double) { return 0; }
#endif

// Reads an unsigned numeral of the form D.DDDDDDDDDDDDDDDe<sign><1 to 4 digits> that ends
// at `last` or before a character that cannot continue it. With at most 2^53 as its digits
// and a power of ten up to 22 the value is one correctly rounded multiplication or division
// of exact operands, which is what a full conversion gives. False for anything else.
bool parseScientific16(const char* first, const char* last, double& value) {
#if FLT_EVAL_METHOD == 0
  static constexpr double kTenPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (last - first < 20 || !isDigit(first[0]) || first[1] != '.') return false;
  std::uint64_t mantissa = static_cast<std::uint64_t>(first[0] - '0');
  for (int i = 2; i < 17; ++i) {
    if (!isDigit(first[i])) return false;
    mantissa = mantissa * 10 + static_cast<std::uint64_t>(first[i] - '0');
  }
  if (first[17] != 'e' && first[17] != 'E') return false;
  if (first[18] != '+' && first[18] != '-') return false;
  const char* p = first + 19;
  int exponent = 0;
  int count = 0;
  while (p < last && isDigit(*p) && count <= 4) {
    exponent = exponent * 10 + (*p - '0');
    ++p;
    ++count;
  }
  if (count == 0 || count > 4) return false;
  if (p < last && (isDigit(*p))) return false;
  if (first[18] == '-') exponent = -exponent;
  const int scale = exponent - 15;
  if (mantissa > (std::uint64_t{1} << 53) || scale < -22 || scale > 22) return false;
  const double digits = static_cast<double>(mantissa);
  value = scale >= 0 ? digits * kTenPowers[scale] : digits / kTenPowers[-scale];
  return true;
#else
  // Intermediate results carry extra precision here: the one-operation reading could round
  // twice.
  (void)first;
  (void)last;
  (void)value;
  return false;
#endif
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
  // A second sign ends the numeral before it starts ("--5" reads as 0).
  if (first < last && (*first == '-' || *first == '+')) return 0.0;
  if (parseScientific16(first, last, value)) return negative ? -value : value;
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

std::size_t formatScientificTo(char* out, std::size_t capacity, double value, int precision) {
  precision = clampPrecision(precision);
  if (!std::isfinite(value)) {
    std::string text = nonFiniteMantissa(value, precision) + "e+000";
    if (text.size() > capacity) return 0;
    std::memcpy(out, text.data(), text.size());
    return text.size();
  }
  if (precision == 15 && capacity >= 23) {
    if (std::size_t size = formatScientific15(out, value)) return size;
  }
  std::to_chars_result result =
      std::to_chars(out, out + capacity, value, std::chars_format::scientific, precision);
  if (result.ec != std::errc()) return 0;
  std::size_t size = static_cast<std::size_t>(result.ptr - out);
  // Widen the exponent to three digits: "e-01" -> "e-001". The text ends in e, a sign and at
  // least two digits.
  std::size_t sign = size;  // the position just after the 'e'
  while (sign > 0 && out[sign - 1] != 'e') --sign;
  if (sign == 0) return size;
  std::size_t digits = size - (sign + 1);
  if (digits >= 3) return size;
  std::size_t pad = 3 - digits;
  if (size + pad > capacity) return 0;
  std::memmove(out + sign + 1 + pad, out + sign + 1, digits);
  std::memset(out + sign + 1, '0', pad);
  return size + pad;
}

std::string formatScientific(double value, int precision) {
  precision = clampPrecision(precision);
  if (!std::isfinite(value)) return nonFiniteMantissa(value, precision) + "e+000";
  std::vector<char> buffer(static_cast<std::size_t>(precision) + kScientificCapacity);
  std::size_t size = formatScientificTo(buffer.data(), buffer.size(), value, precision);
  return std::string(buffer.data(), size);
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

std::string addDecimalTexts(std::string_view a, std::string_view b) {
  std::string left(a);
  std::string right(b);
  collapseSpaces(left);
  collapseSpaces(right);
  const bool subtract = (!left.empty() && left[0] == '-') != (!right.empty() && right[0] == '-');

  std::string digitsLeft;
  std::string digitsRight;
  for (char c : left) {
    if (c >= '0' && c <= '9') digitsLeft += c;
  }
  for (char c : right) {
    if (c >= '0' && c <= '9') digitsRight += c;
  }
  if (digitsLeft.empty() && digitsRight.empty()) return "0";

  std::string result;
  if (!subtract) {
    int carry = 0;
    std::size_t i = digitsLeft.size();
    std::size_t j = digitsRight.size();
    while (i > 0 || j > 0) {
      int sum = carry;
      if (i > 0) sum += digitsLeft[--i] - '0';
      if (j > 0) sum += digitsRight[--j] - '0';
      result.insert(result.begin(), static_cast<char>('0' + sum % 10));
      carry = sum / 10;
    }
    if (carry) result.insert(result.begin(), static_cast<char>('0' + carry));
    return result;
  }

  // One operand is negative: the magnitude of the difference, without a sign.
  auto trimmed = [](std::string s) {
    const std::size_t first = s.find_first_not_of('0');
    return first == std::string::npos ? std::string("0") : s.substr(first);
  };
  std::string larger = trimmed(digitsLeft);
  std::string smaller = trimmed(digitsRight);
  if (larger.size() < smaller.size() || (larger.size() == smaller.size() && larger < smaller)) {
    std::swap(larger, smaller);
  }
  int borrow = 0;
  std::size_t i = larger.size();
  std::size_t j = smaller.size();
  while (i > 0) {
    int digit = (larger[--i] - '0') - borrow;
    if (j > 0) digit -= smaller[--j] - '0';
    borrow = digit < 0 ? 1 : 0;
    if (digit < 0) digit += 10;
    result.insert(result.begin(), static_cast<char>('0' + digit));
  }
  return trimmed(result);
}

}  // namespace zelka
