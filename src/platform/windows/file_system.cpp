// File-system operations on Windows. Paths are UTF-8 path text (path_text.h); every call
// goes through the kernel's wide-character functions with the path's UTF-16 form, so
// directories with any Unicode name work whatever the system's ANSI code page is.
#include "platform/file_system.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <cwchar>

#include "platform/clock.h"
#include "platform/file_system_support.h"
#include "platform/path_text.h"

namespace zelka {

const char* const kTemporarySuffix = ".zelka-tmp";

namespace {

// The wide form of a path; nullopt when it is empty or is not valid UTF-8 (a shortened path
// would name another file).
std::optional<std::wstring> widePath(const std::string& path) {
  if (path.empty()) return std::nullopt;
  std::optional<std::u16string> wide = pathToWide(path);
  if (!wide) return std::nullopt;
  return std::wstring(wide->begin(), wide->end());
}

// The path text of a name found on disk; nullopt for a name with an unpaired surrogate,
// which UTF-8 cannot hold (the module could not name that file again).
std::optional<std::string> narrowName(const wchar_t* name) {
  std::u16string wide;
  for (const wchar_t* c = name; *c != L'\0'; ++c) wide.push_back(static_cast<char16_t>(*c));
  return pathFromWide(wide);
}

// FILETIME counts 100-nanosecond intervals since 1601-01-01 (UTC).
std::int64_t secondsFromFileTime(const FILETIME& time) {
  ULARGE_INTEGER value;
  value.LowPart = time.dwLowDateTime;
  value.HighPart = time.dwHighDateTime;
  constexpr std::uint64_t kEpochDifference = 116444736000000000ull;  // 1601 -> 1970
  if (value.QuadPart < kEpochDifference) return 0;
  return static_cast<std::int64_t>((value.QuadPart - kEpochDifference) / 10000000ull);
}

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() { close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool close() {
    if (handle_ == INVALID_HANDLE_VALUE) return true;
    BOOL ok = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return ok != 0;
  }

 private:
  HANDLE handle_;
};

bool writeAll(HANDLE file, const std::string& content) {
  const char* data = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    left -= written;
  }
  return true;
}

}  // namespace

std::optional<std::vector<DirectoryEntry>> listDirectory(const std::string& directory,
                                                         const std::string& pattern) {
  std::optional<std::wstring> wideDirectory = widePath(directory.empty() ? "." : directory);
  if (!wideDirectory) return std::nullopt;
  std::wstring search = *wideDirectory;
  if (search.back() != L'\\' && search.back() != L'/') search += L'\\';
  search += L'*';
  // Every name is listed and matched here, as on POSIX: the kernel's own matching also
  // matches generated short names ("*.tlk" would find "a.tlkx").
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileExW(search.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                 nullptr, FIND_FIRST_EX_LARGE_FETCH);
  std::vector<DirectoryEntry> entries;
  if (find == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return entries;  // an empty drive root
    return std::nullopt;
  }
  do {
    if (std::wcscmp(data.cFileName, L".") == 0 || std::wcscmp(data.cFileName, L"..") == 0) {
      continue;
    }
    std::optional<std::string> name = narrowName(data.cFileName);
    if (!name || !fs_support::wildcardMatch(pattern, *name)) continue;
    DirectoryEntry entry;
    entry.name = std::move(*name);
    entry.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.lastWriteTime = secondsFromFileTime(data.ftLastWriteTime);
    entries.push_back(std::move(entry));
  } while (FindNextFileW(find, &data));
  FindClose(find);
  fs_support::sortByName(entries);
  return entries;
}

bool fileExists(const std::string& path) {
  std::optional<std::wstring> wide = widePath(path);
  return wide && GetFileAttributesW(wide->c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isDirectory(const std::string& path) {
  std::optional<std::wstring> wide = widePath(path);
  if (!wide) return false;
  DWORD attributes = GetFileAttributesW(wide->c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::FILE* openFile(const std::string& path, const char* mode) {
  std::optional<std::wstring> wide = widePath(path);
  if (!wide || mode == nullptr) return nullptr;
  // Binary mode always: the C runtime's text mode would turn line feeds into CR LF.
  std::wstring wideMode;
  bool binary = false;
  for (const char* c = mode; *c != '\0'; ++c) {
    if (*c == 't') continue;
    if (*c == 'b') binary = true;
    wideMode.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
  }
  if (!binary) wideMode.push_back(L'b');
  return _wfopen(wide->c_str(), wideMode.c_str());
}

bool makeDirectory(const std::string& path) {
  std::optional<std::wstring> wide = widePath(path);
  return wide && CreateDirectoryW(wide->c_str(), nullptr) != 0;
}

bool deleteFile(const std::string& path) {
  std::optional<std::wstring> wide = widePath(path);
  if (!wide) return false;
  DWORD attributes = GetFileAttributesW(wide->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  return DeleteFileW(wide->c_str()) != 0;
}

bool moveFile(const std::string& from, const std::string& to) {
  std::optional<std::wstring> wideFrom = widePath(from);
  std::optional<std::wstring> wideTo = widePath(to);
  if (!wideFrom || !wideTo) return false;
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the target exists.
  return MoveFileExW(wideFrom->c_str(), wideTo->c_str(), MOVEFILE_COPY_ALLOWED) != 0;
}

std::optional<std::string> readFile(const std::string& path) {
  std::optional<std::wstring> wide = widePath(path);
  if (!wide) return std::nullopt;
  // A directory cannot be opened this way (it needs backup semantics), so it reads as absent.
  FileHandle file(CreateFileW(wide->c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return std::nullopt;
  std::string content;
  LARGE_INTEGER size;
  if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0 &&
      static_cast<std::uint64_t>(size.QuadPart) < content.max_size()) {
    content.reserve(static_cast<std::size_t>(size.QuadPart));
  }
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return std::nullopt;
    if (got == 0) break;
    content.append(buffer, got);
  }
  return content;
}

bool replaceFileAtomically(const std::string& path, const std::string& content) {
  std::optional<std::wstring> target = widePath(path);
  if (!target) return false;
  static std::atomic<unsigned> counter{0};
  std::optional<std::wstring> temporary;
  HANDLE handle = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = widePath(path + kTemporarySuffix + "." + std::to_string(GetCurrentProcessId()) +
                         "." + std::to_string(counter.fetch_add(1)));
    if (!temporary) return false;
    handle = CreateFileW(temporary->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
  }
  if (handle == INVALID_HANDLE_VALUE) return false;

  FileHandle file(handle);
  // The content reaches the disk before the rename makes it the file.
  bool ok = writeAll(file.get(), content) && FlushFileBuffers(file.get()) != 0;
  if (!file.close()) ok = false;
  if (ok && MoveFileExW(temporary->c_str(), target->c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
    ok = false;
  }
  if (!ok) {
    DeleteFileW(temporary->c_str());
    return false;
  }
  return true;
}

std::optional<std::string> moveAside(const std::string& path) {
  std::optional<std::wstring> wide = widePath(path);
  if (!wide || GetFileAttributesW(wide->c_str()) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  std::tm stamp{};
  if (std::optional<std::tm> now = localTime(secondsSinceEpoch())) stamp = *now;
  for (int counter = 0; counter < 10000; ++counter) {
    std::string target = fs_support::brokenName(path, stamp, counter);
    std::optional<std::wstring> wideTarget = widePath(target);
    if (!wideTarget) return std::nullopt;
    if (MoveFileExW(wide->c_str(), wideTarget->c_str(), MOVEFILE_WRITE_THROUGH) != 0) {
      return target;
    }
    DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace zelka
