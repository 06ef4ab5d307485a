#include "platform/file_system_support.h"

#include <algorithm>
#include <cstdio>
#include <optional>

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
  std::sort(entries.begin(), entries.end(), [](const DirectoryEntry& a, const DirectoryEntry& b) {
    std::size_t n = std::min(a.name.size(), b.name.size());
    for (std::size_t i = 0; i < n; ++i) {
      unsigned char x = static_cast<unsigned char>(lowerAscii(a.name[i]));
      unsigned char y = static_cast<unsigned char>(lowerAscii(b.name[i]));
      if (x != y) return x < y;
    }
    if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
    return a.name < b.name;
  });
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
  const std::size_t slash = path.find_last_of("/\\");
  const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) return;
  const std::string stem = name + kTemporarySuffix;
  const std::optional<std::vector<DirectoryEntry>> entries = listDirectory(directory, "*");
  if (!entries) return;
  for (const DirectoryEntry& entry : *entries) {
    if (entry.isDirectory || entry.name.compare(0, stem.size(), stem) != 0) continue;
    deleteFile(slash == std::string::npos ? entry.name : directory + entry.name);
  }
}

}  // namespace zelka
