// Detects new or changed files of one extension in a directory across scans.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zelka {

using FileTimeMap = std::map<std::string, std::int64_t>;

// Lists directory + name for every file (not directory) matching "*" or "*.<extension>"
// whose last-write time is not yet in the map or differs from it, and records the time.
// directory ends with its separator. True when the directory search found at least one
// entry; false (and nothing listed) when it found none or the directory does not exist.
bool scanChangedFiles(const std::string& directory, const std::string& extension,
                      FileTimeMap& times, std::vector<std::string>& changed);

}  // namespace zelka
