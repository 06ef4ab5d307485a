// How zelka-host learns whether the ghost is still thinking over a heard sentence: the
// module's own request GET Think answers (in its Status header) running, finished (the answer waits for the next
// OnSecondChange) or ready. The session waits for a running pass before it lets a second
// pass, so a transcript never depends on how fast the machine thinks.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace zelka::host {

enum class ThinkState {
  kUnknown,   // the module does not answer GET Think (or returned nothing)
  kReady,     // no pass, or its answer was given
  kRunning,   // a pass is running
  kFinished,  // a pass has ended; the next OnSecondChange brings its answer
};

using ThinkRequester = std::function<std::optional<std::string>(const std::string&)>;

ThinkState askThinkState(const ThinkRequester& send);

// Asks again every few milliseconds while a pass runs; answers the first other state.
ThinkState waitWhileThinking(const ThinkRequester& send);

}  // namespace zelka::host
