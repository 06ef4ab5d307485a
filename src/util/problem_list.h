// What went wrong in a session that the ghost's author must hear of: a knowledge file or a
// dictionary refused, a store set aside as broken, a save that failed, a script error. Rare
// events, reported whatever the run level.
//
// The list keeps each problem until it is taken, oldest first, so that every problem is told
// once: the host asks for them through a request, or a protocol answer carries them. It holds at
// most kLimit untaken problems (a script that fails on every request must not grow it without
// end); past that it counts what it had to drop, except a critical problem, which takes the place
// of the newest one that is not critical. An observer, when set, sees every problem as it
// is reported (the diagnostic log writes it down).
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace zelka {

struct Problem {
  // Critical: something learned could not be kept (a store or reflex.txt that could not be
  // saved); a host should not report such a session as a success.
  enum class Severity { Warning, Error, Critical };
  Severity severity = Severity::Error;
  std::string where;    // the file concerned, with ":<line>" when known; may be empty
  std::string message;  // what happened and what to do about it
  // Narrow text as everywhere in the module (Shift_JIS).
};

class ProblemList {
 public:
  static constexpr std::size_t kLimit = 256;

  void report(Problem problem);
  // The oldest problem not taken yet.
  std::optional<Problem> take();
  bool empty() const { return pending_.empty(); }
  std::size_t size() const { return pending_.size(); }
  // Problems reported while the list was full, since the last clear.
  std::size_t dropped() const { return dropped_; }
  void clear();

  void setObserver(std::function<void(const Problem&)> observer) {
    observer_ = std::move(observer);
  }

 private:
  std::deque<Problem> pending_;
  std::size_t dropped_ = 0;
  std::function<void(const Problem&)> observer_;
};

// "warning", "error" or "critical".
const char* severityName(Problem::Severity severity);

}  // namespace zelka
