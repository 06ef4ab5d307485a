// File-system operations on POSIX.
#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/clock.h"
#include "platform/file_system_support.h"

namespace zelka {

const char* const kTemporarySuffix = ".zelka-tmp";

namespace {

std::string joinPath(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  char last = directory.back();
  if (last == '/' || last == '\\') return directory + name;
  return directory + "/" + name;
}

std::string parentDirectory(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool writeAll(int fd, const std::string& content) {
  const char* data = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  return true;
}

void syncDirectory(const std::string& directory) {
  int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // some file systems refuse this; the rename has happened either way
  ::close(fd);
}

// Renames without replacing an existing target. Returns 0 or an errno value.
int renameNoReplace(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
#endif
  // A file system without the flag: a hard link fails atomically when the target exists.
  struct stat info {};
  if (::lstat(from.c_str(), &info) != 0) return errno;
  if (!S_ISDIR(info.st_mode)) {
    if (::link(from.c_str(), to.c_str()) == 0) {
      ::unlink(from.c_str());
      return 0;
    }
    if (errno == EEXIST) return EEXIST;
  }
  // Last resort (directories, file systems without hard links): check, then rename.
  if (::lstat(to.c_str(), &info) == 0) return EEXIST;
  if (::rename(from.c_str(), to.c_str()) == 0) return 0;
  return errno;
}

}  // namespace

std::optional<std::vector<DirectoryEntry>> listDirectory(const std::string& directory,
                                                         const std::string& pattern) {
  DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
  if (dir == nullptr) return std::nullopt;
  std::vector<DirectoryEntry> entries;
  while (dirent* item = ::readdir(dir)) {
    std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    if (!fs_support::wildcardMatch(pattern, name)) continue;
    std::string full = joinPath(directory, name);
    struct stat info {};
    if (::stat(full.c_str(), &info) != 0 && ::lstat(full.c_str(), &info) != 0) continue;
    DirectoryEntry entry;
    entry.name = std::move(name);
    entry.isDirectory = S_ISDIR(info.st_mode);
    entry.lastWriteTime = static_cast<std::int64_t>(info.st_mtime);
    entries.push_back(std::move(entry));
  }
  ::closedir(dir);
  // The order of a directory read is arbitrary; callers that read files in listing order
  // get the same order every time.
  fs_support::sortByName(entries);
  return entries;
}

bool fileExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

bool isDirectory(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::FILE* openFile(const std::string& path, const char* mode) {
  if (path.empty() || mode == nullptr) return nullptr;
  return std::fopen(path.c_str(), mode);
}

bool makeDirectory(const std::string& path) {
  return !path.empty() && ::mkdir(path.c_str(), 0777) == 0;
}

bool deleteFile(const std::string& path) {
  struct stat info {};
  if (path.empty() || ::lstat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
  return ::unlink(path.c_str()) == 0;
}

bool moveFile(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  return renameNoReplace(from, to) == 0;
}

std::optional<std::string> readFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string content;
  if (info.st_size > 0) content.reserve(static_cast<std::size_t>(info.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return content;
}

bool replaceFileAtomically(const std::string& path, const std::string& content) {
  if (path.empty()) return false;
  static std::atomic<unsigned> counter{0};
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = path + kTemporarySuffix + "." + std::to_string(::getpid()) + "." +
                std::to_string(counter.fetch_add(1));
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  // Keep the permissions of the file being replaced.
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
    ::fchmod(fd, existing.st_mode & 07777);
  }

  bool ok = writeAll(fd, content) && ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  syncDirectory(parentDirectory(path));
  return true;
}

std::optional<std::string> moveAside(const std::string& path) {
  if (path.empty() || !fileExists(path)) return std::nullopt;
  std::tm stamp{};
  if (std::optional<std::tm> now = localTime(secondsSinceEpoch())) stamp = *now;
  for (int counter = 0; counter < 10000; ++counter) {
    std::string target = fs_support::brokenName(path, stamp, counter);
    int error = renameNoReplace(path, target);
    if (error == 0) return target;
    if (error != EEXIST && error != ENOTEMPTY) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace zelka
