#include "name_suggestion.h"

#include <algorithm>

namespace zelka::host {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::size_t editDistance(std::string_view a, std::string_view b) {
  // Optimal string alignment over three rows.
  std::vector<std::size_t> before(b.size() + 1), previous(b.size() + 1), current(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
      if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) &&
          lower(a[i - 2]) == lower(b[j - 1])) {
        current[j] = std::min(current[j], before[j - 2] + 1);
      }
    }
    std::swap(before, previous);
    std::swap(previous, current);
  }
  return previous[b.size()];
}

std::optional<std::string> closestName(std::string_view word,
                                       const std::vector<std::string>& candidates) {
  const std::size_t limit = std::max<std::size_t>(2, word.size() / 4);
  std::optional<std::string> best;
  std::size_t bestDistance = limit + 1;
  for (const std::string& candidate : candidates) {
    if (candidate == word) return std::nullopt;
    // Names far apart in length cannot be close.
    const std::size_t gap = candidate.size() > word.size() ? candidate.size() - word.size()
                                                           : word.size() - candidate.size();
    if (gap >= bestDistance) continue;
    const std::size_t distance = editDistance(word, candidate);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = candidate;
    }
  }
  return best;
}

std::string didYouMean(std::string_view word, const std::vector<std::string>& candidates) {
  std::optional<std::string> best = closestName(word, candidates);
  return best ? "; did you mean " + *best + "?" : "";
}

}  // namespace zelka::host
