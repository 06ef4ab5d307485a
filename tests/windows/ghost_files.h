// Test support: a temporary ghost directory made the way a ghost author lays one out, for
// the module loaded through its exports. Names in tests are written in UTF-8; the directory
// is handed to the module in the form a host uses: through load in the system's code page
// (the ANSI code page on Windows, Shift_JIS bytes on POSIX), or through loadu in UTF-8. On
// POSIX the names on disk are the bytes of that form.
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

#include "platform/text_codec.h"
#endif

namespace zelka::testing {

#if defined(_WIN32)
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

enum class DirectoryForm { kSystemCodePage, kUtf8 };

#if defined(_WIN32)
inline std::wstring wideFrom(std::string_view text, UINT codePage) {
  int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

// The wide text in the code page; empty when a character has no form there.
inline std::string narrowFrom(const std::wstring& wide, UINT codePage) {
  const int size = static_cast<int>(wide.size());
  BOOL lost = FALSE;
  BOOL* lostFlag = codePage == CP_UTF8 ? nullptr : &lost;
  DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  int n = WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, lostFlag);
  std::string narrow(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(codePage, flags, wide.data(), size, narrow.data(), n, nullptr, lostFlag);
  return lost ? std::string() : narrow;
}
#endif

// A name written in UTF-8 as it lies on disk for the form.
inline std::filesystem::path nativeName(std::string_view utf8, DirectoryForm form) {
#if defined(_WIN32)
  (void)form;
  return std::filesystem::path(wideFrom(utf8, CP_UTF8));
#else
  if (form == DirectoryForm::kUtf8) return std::filesystem::path(std::string(utf8));
  return std::filesystem::path(zelka::toNarrow(zelka::utf8ToUtf16(utf8)));
#endif
}

// A path in the host's form: the ANSI code page on Windows (empty when a character has no
// form there), the bytes on POSIX.
inline std::string hostText(const std::filesystem::path& path,
                            DirectoryForm form = DirectoryForm::kSystemCodePage) {
#if defined(_WIN32)
  return narrowFrom(path.native(), form == DirectoryForm::kUtf8 ? CP_UTF8 : CP_ACP);
#else
  (void)form;
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
  // `name` is an optional subdirectory (UTF-8) the ghost lives in; dir() hands it over in
  // the form given. dir() is empty when the name has no form in the system's code page.
  explicit TempGhost(std::string_view name = {},
                     DirectoryForm form = DirectoryForm::kSystemCodePage)
      : form_(form) {
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
    home_ = root_;
    if (!name.empty()) home_ /= nativeName(name, form);
    std::filesystem::create_directories(home_ / "vender", error);
    dir_ = hostText(home_, form);
#if !defined(_WIN32)
    // A name Shift_JIS cannot hold has no form for load.
    if (form == DirectoryForm::kSystemCodePage &&
        zelka::toWide(nativeName(name, form).native()) != zelka::utf8ToUtf16(name)) {
      dir_.clear();
    }
#endif
    if (!dir_.empty()) dir_ += kSeparator;
  }
  ~TempGhost() {
    std::error_code ignored;
    if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
  }
  TempGhost(const TempGhost&) = delete;
  TempGhost& operator=(const TempGhost&) = delete;

  // The module directory as the host passes it, ending with its separator.
  const std::string& dir() const { return dir_; }
  DirectoryForm form() const { return form_; }
  // A file of the ghost; the relative path is UTF-8 with '/' separators.
  std::filesystem::path path(std::string_view relative) const {
    return home_ / nativeName(relative, form_);
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
  DirectoryForm form_;
  std::filesystem::path root_;
  std::filesystem::path home_;
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
