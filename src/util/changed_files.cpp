// Change detection over one directory scan.
#include "util/changed_files.h"

#include "platform/file_system.h"

namespace zelka {

bool scanChangedFiles(const std::string& directory, const std::string& extension,
                      FileTimeMap& times, std::vector<std::string>& changed) {
  std::string pattern = extension.empty() ? std::string("*") : "*." + extension;
  std::optional<std::vector<DirectoryEntry>> entries = listDirectory(directory, pattern);
  if (!entries) return false;
  // The directory search of "*" also finds "." and "..": an existing directory always
  // answers true for it, an extension pattern only when something matched.
  if (entries->empty() && !extension.empty()) return false;
  for (const DirectoryEntry& entry : *entries) {
    if (entry.isDirectory) continue;
    std::string full = directory + entry.name;
    auto found = times.find(full);
    if (found == times.end() || found->second != entry.lastWriteTime) {
      changed.push_back(full);
      times[full] = entry.lastWriteTime;
    }
  }
  return true;
}

}  // namespace zelka
