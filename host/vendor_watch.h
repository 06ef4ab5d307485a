// Notices edits in the ghost's vendor folder (knowledge files, dictionaries): a snapshot of
// each file's name, size and modification time, compared with the folder as it is now.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <utility>

namespace zelka::host {

class VendorWatch {
 public:
  explicit VendorWatch(std::string directory);
  // True when a file was added, removed or changed since the last snapshot; takes a new one.
  bool changed();

 private:
  using Snapshot = std::map<std::string, std::pair<std::uintmax_t, std::filesystem::file_time_type>>;
  Snapshot take() const;

  std::string directory_;
  Snapshot last_;
};

}  // namespace zelka::host
