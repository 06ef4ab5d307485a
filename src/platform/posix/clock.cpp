// Clocks on POSIX.
#include "platform/clock.h"

#include <time.h>

namespace zelka {

std::uint32_t tickCountMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  // Wraps around like a 32-bit millisecond counter does.
  std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                     static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

std::int64_t secondsSinceEpoch() { return static_cast<std::int64_t>(::time(nullptr)); }

std::optional<std::tm> localTime(std::int64_t seconds) {
  time_t t = static_cast<time_t>(seconds);
  if (static_cast<std::int64_t>(t) != seconds) return std::nullopt;
  std::tm out{};
  if (localtime_r(&t, &out) == nullptr) return std::nullopt;
  return out;
}

}  // namespace zelka
