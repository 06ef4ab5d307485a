// Clocks: a millisecond tick count since an arbitrary start (the system start on Windows),
// the calendar time in seconds, and the local time broken down.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace zelka {

std::uint32_t tickCountMs();
std::int64_t secondsSinceEpoch();

// Local time of the given calendar second; nullopt when the conversion fails.
std::optional<std::tm> localTime(std::int64_t seconds);

// The C runtime's asctime form of the local time without its trailing line feed,
// for example "Tue Dec 08 03:47:05 2026" (24 characters).
std::string asctimeNow();

}  // namespace zelka
