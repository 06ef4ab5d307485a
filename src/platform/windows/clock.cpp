// Clocks on Windows.
#include "platform/clock.h"

#include <windows.h>

#include <time.h>

namespace zelka {

// The kernel's millisecond count since the system started; wraps after 49.7 days.
std::uint32_t tickCountMs() { return static_cast<std::uint32_t>(GetTickCount()); }

std::int64_t secondsSinceEpoch() { return static_cast<std::int64_t>(_time64(nullptr)); }

std::optional<std::tm> localTime(std::int64_t seconds) {
  __time64_t t = static_cast<__time64_t>(seconds);
  std::tm out{};
  if (_localtime64_s(&out, &t) != 0) return std::nullopt;
  return out;
}

}  // namespace zelka
