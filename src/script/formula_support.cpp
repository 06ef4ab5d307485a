#include "script/formula_support.h"

#include <cmath>
#include <limits>

namespace zelka {

namespace {

bool isShiftJisLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

}  // namespace

void cutToLimit(std::string& text, std::size_t limit) {
  if (text.size() <= limit) return;
  const bool quoted = limit >= 2 && text.size() >= 2 && text.front() == '"' && text.back() == '"';
  const std::size_t room = quoted ? limit - 1 : limit;
  std::size_t end = 0;
  while (end < text.size()) {
    const std::size_t width =
        (isShiftJisLeadByte(static_cast<unsigned char>(text[end])) && end + 1 < text.size()) ? 2
                                                                                             : 1;
    if (end + width > room) break;
    end += width;
  }
  text.resize(end);
  if (quoted) text.push_back('"');
}

long long truncateToInteger(double value) {
  if (std::isnan(value)) return 0;
  // 2^63 is exactly representable; every double below it converts safely.
  constexpr double kTwoTo63 = 9223372036854775808.0;
  if (value >= kTwoTo63) return std::numeric_limits<long long>::max();
  if (value <= -kTwoTo63) return std::numeric_limits<long long>::min();
  return static_cast<long long>(value);
}

std::int32_t truncateToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

}  // namespace zelka
