// The codes of thinking, shared by the think thread that produces them, the script language
// that asks for a synchronous pass, and the protocol front that starts, polls and accepts
// threaded passes. The values reach the script variables "__Think_accept" and "__Think_state"
// and the diagnostic log as the decimal numbers below, so they never change.
#pragma once

#include <string_view>

namespace zelka {

// The think phase, the one signal between the caller and the think thread. A caller accepts
// a finished pass, or stops a running one, by setting a positive level (normally
// kThinkReady); any positive value counts as ready.
enum ThinkPhase : int {
  kThinkRunning = 0,   // a segmentation pass is running
  kThinkReady = 1,     // a new pass may start; the level a caller accepts with
  kThinkFinished = 2,  // the pass ended; its result waits to be accepted
};

// How a pass ended: the think result of a threaded pass, and the answer of a synchronous one.
enum ThinkResult : int {
  kThinkUnset = 0,            // set when a pass starts; a synchronous pass leaves it so
  kThinkWalked = 1,           // the whole text was walked
  kThinkCutWithSegments = 2,  // cut off (stopped or out of time) after at least one segment
  kThinkCutEmpty = 3,         // cut off before any segment
};

// The sender whose texts are the ghost's own (the commu element's passes): such a pass adds
// links to the bind network but reinforces none.
inline constexpr std::u16string_view kKernelSender = u"__zelka_kernel";

}  // namespace zelka
