// What the configuration's run level turns on in the diagnostic log. The level is copied from
// the configuration at load; every writer asks it before writing (the log itself never looks).
//
//   0        nothing
//   not 0    each request and response with its banner, and the save at unload
//   2 or 4   also the script engine's expansion and talk selection
//   3 or 4   also formula evaluation and think results
//   5        also the timer and mouse conversions of the event handling
#pragma once

namespace zelka {

class RunLevel {
 public:
  constexpr RunLevel() = default;
  constexpr explicit RunLevel(int level) : level_(level) {}

  constexpr int value() const { return level_; }
  constexpr bool logsTraffic() const { return level_ != 0; }
  constexpr bool logsSelection() const { return level_ == 2 || level_ == 4; }
  // Formula evaluation and think results (segments, "__Think_accept", "__Think_state").
  constexpr bool logsFormulas() const { return level_ == 3 || level_ == 4; }
  constexpr bool logsConversions() const { return level_ == 5; }

 private:
  int level_ = 0;
};

}  // namespace zelka
