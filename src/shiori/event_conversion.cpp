#include "shiori/event_conversion.h"

namespace zelka {

TimerConversion convertSecondChange(EventCounters& counters, const TimerInputs& inputs) {
  ++counters.secondCounter;
  if (inputs.thinkFinished) return TimerConversion::ThinkResult;

  if (inputs.talkInterval != 0 && counters.secondCounter >= inputs.talkInterval) {
    counters.secondCounter = 0;
    return TimerConversion::FreeTalk;
  }

  if (!inputs.listenPending) return TimerConversion::None;
  ++counters.listenCounter;
  // A negative configured wait reads as the unsigned number it is in 32 bits.
  if (counters.listenCounter < static_cast<std::uint32_t>(counters.listenWait)) {
    return TimerConversion::None;
  }
  counters.listenCounter = 0;
  return TimerConversion::ListenTimeout;
}

bool convertMouseMove(EventCounters& counters, std::u16string_view part) {
  if (part.empty()) {
    counters.touchPart.clear();
    counters.touchCounter = 0;
  } else if (part != counters.touchPart) {
    counters.touchPart = std::u16string(part);
    counters.touchCounter = 0;
  } else {
    ++counters.touchCounter;
  }
  return counters.touchCounter >= kBodyTouchCount;
}

}  // namespace zelka
