#include "util/problem_list.h"

#include <algorithm>
#include <iterator>

namespace zelka {

void ProblemList::report(Problem problem) {
  if (observer_) observer_(problem);
  if (pending_.size() >= kLimit) {
    ++dropped_;
    if (problem.severity != Problem::Severity::Critical) return;
    // A host must still learn that something learned was lost: the newest problem that is
    // not critical makes room for it.
    auto last = std::find_if(pending_.rbegin(), pending_.rend(), [](const Problem& p) {
      return p.severity != Problem::Severity::Critical;
    });
    if (last == pending_.rend()) return;
    pending_.erase(std::next(last).base());
  }
  pending_.push_back(std::move(problem));
}

std::optional<Problem> ProblemList::take() {
  if (pending_.empty()) return std::nullopt;
  Problem first = std::move(pending_.front());
  pending_.pop_front();
  return first;
}

void ProblemList::clear() {
  pending_.clear();
  dropped_ = 0;
}

const char* severityName(Problem::Severity severity) {
  switch (severity) {
    case Problem::Severity::Warning: return "warning";
    case Problem::Severity::Error: break;
    case Problem::Severity::Critical: return "critical";
  }
  return "error";
}

}  // namespace zelka
