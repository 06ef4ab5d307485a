// What a host may set in the environment before it loads the module, so that a session can be
// repeated exactly (zelka-host sets both for --seed). Read at every load; without them the
// module behaves as hosts expect.
//
//   ZELKA_RANDOM_SEED=N       seeds both random generators (the scripts' and the knowledge
//                             set's) with N (0 to 4294967295) instead of the clock.
//   ZELKA_FIRST_THINK_WAIT=W  how long a heard sentence waits for its think pass before it is
//                             answered with 204 and left to a later OnSecondChange: a number of
//                             milliseconds (0 to 60000; default 500), "end" (until the pass
//                             ends: every answer comes at once) or "later" (not at all: every
//                             answer comes with the next OnSecondChange).
// A value that does not read as one of these is ignored.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zelka {

struct SessionTuning {
  static constexpr int kWaitForEnd = -1;   // firstThinkWaitMs: wait until the pass ends
  static constexpr int kAnswerLater = -2;  // firstThinkWaitMs: never answer at once

  std::optional<std::uint32_t> randomSeed;
  int firstThinkWaitMs = 500;
};

// Reads the two values (as the environment variables hold them; nullopt for an unset one).
SessionTuning parseSessionTuning(std::optional<std::string_view> seed,
                                 std::optional<std::string_view> firstWait);
// The tuning of the process environment.
SessionTuning readSessionTuning();

}  // namespace zelka
