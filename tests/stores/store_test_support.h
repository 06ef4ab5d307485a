// Helpers for the knowledge store tests: a temporary directory per test and an independent
// reader (xmllint) for the files the stores write.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace zelka::testing {

class TempDir {
 public:
  explicit TempDir(const std::string& tag = "store") {
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
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // The path as the stores take it (UTF-16).
  std::u16string file(const std::string& name) const { return (path_ / name).u16string(); }

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

// Evaluates an XPath expression over the file with xmllint and answers what it prints (UTF-8,
// trailing line breaks removed), or "<xmllint failed>" when xmllint rejects the file.
// Expressions use double quotes only.
inline std::string xpath(const std::filesystem::path& file, const std::string& expression) {
  std::string command =
      "xmllint --xpath '" + expression + "' '" + file.string() + "' 2>/dev/null";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return "<xmllint failed>";
  std::string output;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  int status = ::pclose(pipe);
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  // xmllint answers 10 for an empty node set, which string() and count() never give.
  if (status != 0) return "<xmllint failed>";
  return output;
}

// True when xmllint parses the file as well-formed XML.
inline bool wellFormed(const std::filesystem::path& file) {
  std::string command = "xmllint --noout '" + file.string() + "' 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

}  // namespace zelka::testing
