// The event handling's conversions of host events into the module's own events, as decisions
// over the counters they keep. The server gathers the few inputs, asks, and carries out the
// answer (reference headers, variables, think acceptance, log entries); nothing here touches
// the protocol, the variables or the think thread.
//
// Timer conversion (each OnSecondChange), first match wins:
//   1. the second counter grows by one, always;
//   2. a finished think pass waiting to be collected becomes the think result (the second
//      counter keeps growing meanwhile);
//   3. with a talk interval other than 0 and the second counter at least the interval, a free
//      talk; the second counter returns to 0;
//   4. while a listen is pending, the listen counter grows by one; once it reaches the listen
//      wait, a listen time-out; the listen counter returns to 0.
// Touch conversion (each OnMouseMove): a move over the same body part as the last one counts
// up, a different part starts the count at 0, no part clears both; from a count of
// kBodyTouchCount on, every move is a body touch (the count is not reset: 3, 4, 5, ...).
// Counters are 32-bit and compared as unsigned numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zelka {

struct EventCounters {
  std::uint32_t secondCounter = 0;  // OnSecondChange events since the last free talk
  std::int32_t listenWait = 0;      // configured seconds after which a pending listen ends
  std::uint32_t listenCounter = 0;  // OnSecondChange events counted while a listen is pending
  std::u16string touchPart;         // the body part of the last OnMouseMove, empty for none
  std::uint32_t touchCounter = 0;   // consecutive OnMouseMove events over that part
};

enum class TimerConversion { None, ThinkResult, FreeTalk, ListenTimeout };

struct TimerInputs {
  bool thinkFinished = false;      // the think phase shows a finished pass
  std::uint32_t talkInterval = 0;  // free talk interval in seconds; 0 switches free talk off
  bool listenPending = false;      // "__Listen_id" is not "none"
};

// Counts one OnSecondChange and answers what it becomes.
TimerConversion convertSecondChange(EventCounters& counters, const TimerInputs& inputs);

inline constexpr std::uint32_t kBodyTouchCount = 3;

// Counts one OnMouseMove over part (empty: over no part); true when it becomes a body touch,
// whose count is then counters.touchCounter.
bool convertMouseMove(EventCounters& counters, std::u16string_view part);

}  // namespace zelka
