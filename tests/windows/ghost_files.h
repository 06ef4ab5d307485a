// Test support: a temporary ghost directory made the way a ghost author lays one out, for
// the module loaded through its exports. Paths are Shift_JIS text as a host passes them; on
// Windows they become wide names through code page 932 (as the module converts them), on
// POSIX the bytes are the names.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace zelka::testing {

#if defined(_WIN32)
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

inline std::filesystem::path nativePath(std::string_view sjis) {
#if defined(_WIN32)
  int n = MultiByteToWideChar(932, 0, sjis.data(), static_cast<int>(sjis.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(932, 0, sjis.data(), static_cast<int>(sjis.size()), wide.data(), n);
  return std::filesystem::path(wide);
#else
  return std::filesystem::path(std::string(sjis));
#endif
}

inline std::string sjisPath(const std::filesystem::path& path) {
#if defined(_WIN32)
  const std::wstring& wide = path.native();
  int n = WideCharToMultiByte(932, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(932, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), n,
                      nullptr, nullptr);
  return narrow;
#else
  return path.native();
#endif
}

inline std::FILE* openNative(const std::filesystem::path& path, const char* mode) {
#if defined(_WIN32)
  std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(path.c_str(), wideMode.c_str());
#else
  return std::fopen(path.c_str(), mode);
#endif
}

inline bool writeBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::error_code ignored;
  std::filesystem::create_directories(path.parent_path(), ignored);
  std::FILE* file = openNative(path, "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

inline std::string readBytes(const std::filesystem::path& path) {
  std::FILE* file = openNative(path, "rb");
  if (file == nullptr) return "(missing)";
  std::string bytes;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  std::fclose(file);
  return bytes;
}

// A fresh directory under the system's temporary directory, removed with its content.
class TempGhost {
 public:
  // `name` is an optional Shift_JIS subdirectory the ghost lives in (for names the host
  // passes in code page 932).
  explicit TempGhost(std::string_view name = {}) {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
#if defined(_WIN32)
    unsigned long process = GetCurrentProcessId();
#else
    unsigned long process = static_cast<unsigned long>(getpid());
#endif
    std::error_code error;
    for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
      std::filesystem::path candidate =
          std::filesystem::temp_directory_path() /
          ("zelka-ghost-" + std::to_string(process) + "-" + std::to_string(stamp) + "-" +
           std::to_string(counter.fetch_add(1)));
      if (std::filesystem::create_directory(candidate, error)) root_ = candidate;
    }
    std::filesystem::path home = root_;
    if (!name.empty()) home /= nativePath(name);
    std::filesystem::create_directories(home / "vender", error);
    dir_ = sjisPath(home) + kSeparator;
  }
  ~TempGhost() {
    std::error_code ignored;
    if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
  }
  TempGhost(const TempGhost&) = delete;
  TempGhost& operator=(const TempGhost&) = delete;

  // The module directory as the host passes it: Shift_JIS, ending with its separator.
  const std::string& dir() const { return dir_; }
  std::filesystem::path path(std::string_view relative) const {
    return nativePath(dir_ + std::string(relative));
  }
  bool write(std::string_view relative, std::string_view bytes) const {
    return writeBytes(path(relative), bytes);
  }
  std::string read(std::string_view relative) const { return readBytes(path(relative)); }
  bool exists(std::string_view relative) const {
    std::error_code ignored;
    return std::filesystem::exists(path(relative), ignored);
  }

 private:
  std::filesystem::path root_;
  std::string dir_;
};

// A configuration in Shift_JIS with CR LF line ends, as Windows editors write it.
inline std::string ghostConfig(std::string_view profileExtra = {}, std::string_view sections = {},
                               int runlevel = 0) {
  return "<?xml version='1.0' encoding='Shift_JIS'?>\r\n"
         "<ZelkaConfiguration>\r\n"
         "  <GhostProfile locale=\"Japanese\" ghost_id=\"test\" ghost_name=\"Test\""
         " birthday=\"2001/05/03\" talk_interval=\"0\" listen_wait=\"16\" think_wait=\"5\"" +
         std::string(profileExtra) + "/>\r\n"
         "  <RunEnvironment runlevel=\"" + std::to_string(runlevel) + "\">\r\n"
         "    <Directory type=\"vender\" name=\"vender/\"/>\r\n"
         "    <Directory type=\"learning\" name=\"_learning/\"/>\r\n"
         "  </RunEnvironment>\r\n" +
         std::string(sections) + "</ZelkaConfiguration>\r\n";
}

// One knowledge block with the given line end.
inline std::string knowledgeBlock(std::string_view token, std::string_view script,
                                  std::string_view lineEnd = "\n") {
  std::string e(lineEnd);
  return "{" + e + "token: " + std::string(token) + e + "script: " + std::string(script) + e +
         "}" + e;
}

inline std::string knowledgeFile(std::string_view blocks, std::string_view lineEnd = "\n") {
  return "[ZELKA KNOWLEDGE 2.0]" + std::string(lineEnd) + std::string(blocks);
}

}  // namespace zelka::testing
