#include "think_watch.h"

#include <chrono>
#include <thread>

#include "host_protocol.h"

namespace zelka::host {

ThinkState askThinkState(const ThinkRequester& send) {
  std::optional<std::string> text = send(thinkStateRequest());
  if (!text) return ThinkState::kUnknown;
  const HostResponse response = parseResponse(*text);
  const std::optional<std::string> state = response.header("Status");
  if (response.code != 200 || !state) return ThinkState::kUnknown;
  if (*state == "running") return ThinkState::kRunning;
  if (*state == "finished") return ThinkState::kFinished;
  if (*state == "ready") return ThinkState::kReady;
  return ThinkState::kUnknown;
}

ThinkState waitWhileThinking(const ThinkRequester& send) {
  // A pass ends by itself once it has walked its text; nothing else is asked of the module
  // meanwhile, so the pass cannot be cut short by the clock.
  for (;;) {
    const ThinkState state = askThinkState(send);
    if (state != ThinkState::kRunning) return state;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace zelka::host
