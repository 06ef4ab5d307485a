// Pieces of the file-system layer that every platform shares: name matching, the listing
// order, and the name a broken file is moved aside to. Internal to the platform layer.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace zelka::fs_support {

// Wildcard match with '*' (any run) and '?' (one byte), ASCII case-insensitive, as the
// Windows directory search matches names. "*.*" matches every name, with or without a dot.
bool wildcardMatch(const std::string& pattern, const std::string& name);

// Sorts a listing by name, ASCII letters compared case-insensitively, so that files are
// always read in the same order whatever order the directory read gave. Names are compared
// in their Shift_JIS form (pathForDisplay), whatever the path encoding.
void sortByName(std::vector<DirectoryEntry>& entries);

// "<path>.broken-YYYYMMDDTHHMMSS" for the given local time, with "-<counter>" when the
// counter is not 0.
std::string brokenName(const std::string& path, const std::tm& stamp, int counter);

}  // namespace zelka::fs_support
