// A temporary directory for one test, removed with everything in it afterwards, and whole-file
// access for the files a test writes or checks.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace zelka::testing {

class TempDir {
 public:
  // The tag names the directory, so that one left behind by a crashed test tells whose it is.
  explicit TempDir(const std::string& tag = "test") {
    static std::atomic<int> serial{0};
    path_ = std::filesystem::temp_directory_path() /
            ("zelka-" + tag + "-" +
             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
             std::to_string(serial++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The directory as the module takes directories: ending in a separator.
  std::string directory() const { return path_.string() + "/"; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  // A file's path as the stores and documents take it (UTF-16).
  std::u16string wide(const std::string& name) const { return (path_ / name).u16string(); }
  // Writes the file (bytes as given) and answers its path.
  std::string write(const std::string& name, const std::string& content) const {
    std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
    out << content;
    return file(name);
  }

 private:
  std::filesystem::path path_;
};

inline std::string readBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void writeBytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
}

}  // namespace zelka::testing
