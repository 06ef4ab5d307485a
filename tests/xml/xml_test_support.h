// Helpers for the XML and configuration tests: a temporary directory, whole-file access and
// running the independent reader xmllint.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace zelka::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelka-xml-XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    path_ = made ? std::string(made) + "/" : std::string();
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + name; }
  std::u16string wide(const std::string& name) const {
    std::string full = file(name);  // ASCII paths only
    return std::u16string(full.begin(), full.end());
  }

 private:
  std::string path_;
};

inline std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct CommandResult {
  int status = -1;
  std::string output;
};

// Runs a shell command and captures its standard output.
inline CommandResult runCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  result.status = ::pclose(pipe);
  return result;
}

// Single-quotes a shell argument.
inline std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

inline bool xmllintAccepts(const std::string& path) {
  return runCommand("xmllint --noout " + shellQuote(path) + " 2>/dev/null").status == 0;
}

// The string value of an XPath expression as xmllint reads the file (UTF-8).
inline std::string xmllintString(const std::string& path, const std::string& xpath) {
  std::string out = runCommand("xmllint --xpath " + shellQuote(xpath) + " " + shellQuote(path) +
                               " 2>/dev/null").output;
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

}  // namespace zelka::testing
