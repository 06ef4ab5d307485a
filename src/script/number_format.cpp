// The number format a script chooses with a cast, and the cast text of an element's argument
// group (see number_format.h). A script-supplied format is never handed to printf: it is
// rendered here with std::to_chars, one floating conversion at most.
#include "script/number_format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "util/number_text.h"
#include "util/text.h"

namespace zelka {
namespace {

constexpr int kMaxCastWidth = 1024;
constexpr int kMaxCastPrecision = 512;

bool isShiftJisLead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc);
}

// Cuts a text at the limit without splitting a two-byte character.
void cutAtLimit(std::string& text, std::size_t limit) {
  if (text.size() <= limit) return;
  std::size_t i = 0;
  while (i < limit) {
    const std::size_t step = isShiftJisLead(static_cast<unsigned char>(text[i])) ? 2 : 1;
    if (i + step > limit) break;
    i += step;
  }
  text.resize(i);
}

struct FloatConversion {
  bool leftAlign = false;
  bool plus = false;
  bool space = false;
  bool alternate = false;
  bool zeroPad = false;
  int width = 0;
  int precision = -1;  // none given
  char conversion = 'f';
};

std::string charsOf(double value, std::chars_format format, int precision) {
  std::array<char, 2048> buffer;
  const auto result =
      precision < 0 ? std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, format)
                    : std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, format,
                                    precision);
  if (result.ec != std::errc()) return "0";
  return std::string(buffer.data(), result.ptr);
}

// "1.5e+01" -> "1.5e+001": the exponent gets at least three digits.
void widenExponent(std::string& text) {
  const std::size_t e = text.find('e');
  if (e == std::string::npos || e + 2 > text.size()) return;
  const std::size_t digits = text.size() - (e + 2);
  if (digits < 3) text.insert(e + 2, 3 - digits, '0');
}

int exponentOf(const std::string& scientific) {
  const std::size_t e = scientific.find('e');
  if (e == std::string::npos) return 0;
  return static_cast<int>(parseIntegerPrefix(std::string_view(scientific).substr(e + 1)));
}

// Removes trailing fraction zeros (and a bare point) from the mantissa.
void stripTrailingZeros(std::string& text) {
  const std::size_t point = text.find('.');
  if (point == std::string::npos) return;
  std::size_t end = text.find_first_of("ep", point);
  if (end == std::string::npos) end = text.size();
  std::size_t cut = end;
  while (cut > point + 1 && text[cut - 1] == '0') --cut;
  if (cut == point + 1) cut = point;
  text.erase(cut, end - cut);
}

void ensurePoint(std::string& text) {
  if (text.find('.') != std::string::npos) return;
  std::size_t at = text.find_first_of("ep");
  if (at == std::string::npos) at = text.size();
  text.insert(at, 1, '.');
}

// The digits of |value| under one conversion, without sign or padding.
std::string renderMagnitude(double magnitude, const FloatConversion& spec) {
  const char lower = static_cast<char>(spec.conversion | 0x20);
  if (std::isnan(magnitude)) return "nan";
  if (std::isinf(magnitude)) return "inf";
  std::string text;
  switch (lower) {
    case 'f':
      text = charsOf(magnitude, std::chars_format::fixed, spec.precision < 0 ? 6 : spec.precision);
      if (spec.alternate) ensurePoint(text);
      break;
    case 'e':
      text = charsOf(magnitude, std::chars_format::scientific,
                     spec.precision < 0 ? 6 : spec.precision);
      if (spec.alternate) ensurePoint(text);
      widenExponent(text);
      break;
    case 'g': {
      const int p = spec.precision < 0 ? 6 : (spec.precision == 0 ? 1 : spec.precision);
      const std::string scientific = charsOf(magnitude, std::chars_format::scientific, p - 1);
      const int x = exponentOf(scientific);
      text = (p > x && x >= -4) ? charsOf(magnitude, std::chars_format::fixed, p - 1 - x)
                                : scientific;
      if (spec.alternate) {
        ensurePoint(text);
      } else {
        stripTrailingZeros(text);
      }
      widenExponent(text);
      break;
    }
    default:  // 'a'
      text = "0x";
      text += charsOf(magnitude, std::chars_format::hex, spec.precision);
      if (spec.alternate) ensurePoint(text);
      break;
  }
  return text;
}

std::string renderConversion(double value, const FloatConversion& spec) {
  std::string digits = renderMagnitude(std::fabs(value), spec);
  if (spec.conversion >= 'A' && spec.conversion <= 'Z') {
    std::transform(digits.begin(), digits.end(), digits.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; });
  }
  std::string sign;
  if (std::signbit(value) && !std::isnan(value)) {
    sign = "-";
  } else if (spec.plus) {
    sign = "+";
  } else if (spec.space) {
    sign = " ";
  }
  const std::size_t length = sign.size() + digits.size();
  const std::size_t width = static_cast<std::size_t>(spec.width);
  if (width <= length) return sign + digits;
  const std::size_t fill = width - length;
  if (spec.leftAlign) return sign + digits + std::string(fill, ' ');
  if (spec.zeroPad && std::isfinite(value)) {
    // Zeros go after the sign and after a hexadecimal prefix.
    std::size_t at = 0;
    if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) at = 2;
    digits.insert(at, fill, '0');
    return sign + digits;
  }
  return std::string(fill, ' ') + sign + digits;
}

// Applies a script-supplied format to one value, honouring only what is safe.
std::string formatCustom(double value, std::string_view format) {
  std::string out;
  bool converted = false;
  std::size_t i = 0;
  const std::size_t n = format.size();
  while (i < n && out.size() <= kNumberFormatLimit) {
    const char c = format[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 < n && format[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    FloatConversion spec;
    bool safe = true;
    std::size_t j = i + 1;
    for (; j < n; ++j) {
      const char f = format[j];
      if (f == '-') {
        spec.leftAlign = true;
      } else if (f == '+') {
        spec.plus = true;
      } else if (f == ' ') {
        spec.space = true;
      } else if (f == '#') {
        spec.alternate = true;
      } else if (f == '0') {
        spec.zeroPad = true;
      } else {
        break;
      }
    }
    if (j < n && format[j] == '*') {
      safe = false;
      ++j;
    }
    for (; j < n && format[j] >= '0' && format[j] <= '9'; ++j) {
      spec.width = std::min(kMaxCastWidth, spec.width * 10 + (format[j] - '0'));
    }
    if (j < n && format[j] == '.') {
      ++j;
      spec.precision = 0;
      if (j < n && format[j] == '*') {
        safe = false;
        ++j;
      }
      for (; j < n && format[j] >= '0' && format[j] <= '9'; ++j) {
        spec.precision = std::min(kMaxCastPrecision, spec.precision * 10 + (format[j] - '0'));
      }
    }
    if (j < n && (format[j] == 'l' || format[j] == 'L')) ++j;
    if (j >= n) {
      out.append(format.substr(i));  // an unfinished conversion stays literal
      break;
    }
    const char conversion = format[j];
    const bool floating = std::string_view("eEfFgGaA").find(conversion) != std::string_view::npos;
    if (safe && floating && !converted) {
      spec.conversion = conversion;
      out += renderConversion(value, spec);
      converted = true;
    } else {
      out.append(format.substr(i, j + 1 - i));  // neutralised: written as it stands
    }
    i = j + 1;
  }
  cutAtLimit(out, kNumberFormatLimit);
  return out;
}

}  // namespace

std::string castOfArguments(std::string_view argumentText) {
  std::string cast(argumentText);
  stripEnclosing(cast, '(', ')');
  trim(cast);
  trim(cast, '"');
  return cast;
}

std::string formatWithCast(double value, std::string_view cast) {
  if (cast.empty() || cast == "int") return formatFixed(value, 0);
  if (cast == "abs") return formatFixed(std::fabs(value), 0);
  if (cast == "float") return formatFixed(value, 6);
  if (cast == "double") return formatScientific(value, 6);
  return formatCustom(value, cast);
}

}  // namespace zelka
