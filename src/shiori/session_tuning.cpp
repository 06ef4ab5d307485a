#include "shiori/session_tuning.h"

#include <charconv>
#include <string>

#include "platform/environment.h"

namespace zelka {

namespace {

// A whole decimal number without sign or blanks, at most `limit`.
std::optional<std::uint64_t> readWhole(std::string_view text, std::uint64_t limit) {
  std::uint64_t value = 0;
  if (text.empty() || text.size() > 10) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > limit) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

SessionTuning parseSessionTuning(std::optional<std::string_view> seed,
                                 std::optional<std::string_view> firstWait) {
  SessionTuning tuning;
  if (seed) {
    if (std::optional<std::uint64_t> value = readWhole(*seed, 0xFFFFFFFFULL)) {
      tuning.randomSeed = static_cast<std::uint32_t>(*value);
    }
  }
  if (firstWait) {
    if (*firstWait == "end") {
      tuning.firstThinkWaitMs = SessionTuning::kWaitForEnd;
    } else if (*firstWait == "later") {
      tuning.firstThinkWaitMs = SessionTuning::kAnswerLater;
    } else if (std::optional<std::uint64_t> value = readWhole(*firstWait, 60000)) {
      tuning.firstThinkWaitMs = static_cast<int>(*value);
    }
  }
  return tuning;
}

SessionTuning readSessionTuning() {
  const std::optional<std::string> seed = environmentVariable("ZELKA_RANDOM_SEED");
  const std::optional<std::string> wait = environmentVariable("ZELKA_FIRST_THINK_WAIT");
  return parseSessionTuning(seed ? std::optional<std::string_view>(*seed) : std::nullopt,
                            wait ? std::optional<std::string_view>(*wait) : std::nullopt);
}

}  // namespace zelka
