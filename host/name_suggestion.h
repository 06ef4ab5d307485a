// "Did you mean": the known name closest to a misspelt one, by edit distance (insertions,
// deletions, substitutions and swaps of neighbours each count one; a difference of case
// alone counts as nothing), when it is close enough to be the likely intent.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelka::host {

std::size_t editDistance(std::string_view a, std::string_view b);

// The closest candidate within max(2, length / 4) edits of `word` (ties: the first listed);
// nullopt when none is that close or `word` is itself a candidate.
std::optional<std::string> closestName(std::string_view word,
                                       const std::vector<std::string>& candidates);

// ", did you mean X?" or "" (ready to append to a message).
std::string didYouMean(std::string_view word, const std::vector<std::string>& candidates);

}  // namespace zelka::host
