#include "platform/file_system_support.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include "platform/path_text.h"

namespace zelka::fs_support {
namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool wildcardMatch(const std::string& rawPattern, const std::string& name) {
  const std::string pattern = rawPattern == "*.*" ? std::string("*") : rawPattern;
  std::size_t p = 0, n = 0;
  std::size_t starP = std::string::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || lowerAscii(pattern[p]) == lowerAscii(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

void sortByName(std::vector<DirectoryEntry>& entries) {
  // The key is the name's Shift_JIS form (its display text): UTF-8 names sort as the same
  // names in Shift_JIS do, so a ghost reads its files in one order on every platform.
  std::vector<std::pair<std::string, DirectoryEntry>> keyed;
  keyed.reserve(entries.size());
  for (DirectoryEntry& entry : entries) {
    std::string key = pathForDisplay(entry.name);
    keyed.emplace_back(std::move(key), std::move(entry));
  }
  std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    const std::string& x = a.first;
    const std::string& y = b.first;
    std::size_t n = std::min(x.size(), y.size());
    for (std::size_t i = 0; i < n; ++i) {
      unsigned char p = static_cast<unsigned char>(lowerAscii(x[i]));
      unsigned char q = static_cast<unsigned char>(lowerAscii(y[i]));
      if (p != q) return p < q;
    }
    if (x.size() != y.size()) return x.size() < y.size();
    if (x != y) return x < y;
    return a.second.name < b.second.name;
  });
  for (std::size_t i = 0; i < keyed.size(); ++i) entries[i] = std::move(keyed[i].second);
}

std::string brokenName(const std::string& path, const std::tm& stamp, int counter) {
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".broken-%04d%02d%02dT%02d%02d%02d", stamp.tm_year + 1900,
                stamp.tm_mon + 1, stamp.tm_mday, stamp.tm_hour, stamp.tm_min, stamp.tm_sec);
  std::string name = path + suffix;
  if (counter != 0) name += "-" + std::to_string(counter);
  return name;
}

}  // namespace zelka::fs_support

namespace zelka {

void removeLeftoverTemporaries(const std::string& path) {
  // A Shift_JIS directory name can hold a 0x5C byte that is no separator.
  const std::size_t nameStart = pathNameStart(path);
  const bool bare = nameStart == 0;
  const std::string directory = bare ? "." : path.substr(0, nameStart);
  const std::string name = path.substr(nameStart);
  if (name.empty()) return;
  const std::string stem = name + kTemporarySuffix;
  const std::optional<std::vector<DirectoryEntry>> entries = listDirectory(directory, "*");
  if (!entries) return;
  for (const DirectoryEntry& entry : *entries) {
    if (entry.isDirectory || entry.name.compare(0, stem.size(), stem) != 0) continue;
    deleteFile(bare ? entry.name : directory + entry.name);
  }
}

}  // namespace zelka
