// File-system operations. Paths are path text (path_text.h): the kernel's bytes on POSIX,
// UTF-8 on Windows, converted to wide text for the kernel's wide-character calls (a path that
// does not convert whole names no file). Names found on disk come back as path text. Files
// are always opened in binary mode, so every platform reads and writes the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace zelka {

struct DirectoryEntry {
  std::string name;           // file name only
  bool isDirectory = false;
  std::int64_t lastWriteTime = 0;  // seconds since the epoch
};

// Lists the entries of a directory whose names match a pattern made of a file-name
// wildcard ("*" and "*.ext" are what callers use; matching of the extension is
// case-insensitive as on Windows). "." and ".." are not listed. Returns nullopt when the
// directory cannot be read. Entries come sorted by name (ASCII letters compared
// case-insensitively), so that files are always read in the same order.
std::optional<std::vector<DirectoryEntry>> listDirectory(const std::string& directory,
                                                         const std::string& pattern);

bool fileExists(const std::string& path);
bool isDirectory(const std::string& path);

// Opens a file with a C runtime mode ("rb", "wb", "ab"; binary mode is used even when the "b"
// is missing). Null when it cannot be opened. The caller closes the file with fclose.
std::FILE* openFile(const std::string& path, const char* mode);
bool makeDirectory(const std::string& path);   // one level; false when it fails (an existing
                                               // directory also answers false)
bool deleteFile(const std::string& path);
bool moveFile(const std::string& from, const std::string& to);  // fails when `to` exists

// Reads a whole file; nullopt when it cannot be opened.
std::optional<std::string> readFile(const std::string& path);

// Replaces the file crash-safely: writes a temporary file beside the target, flushes it to
// disk, then renames it over the target. A kill at any moment leaves the old or the new
// content, never a truncated file. Returns false when any step fails (the target is then
// unchanged and the temporary file removed).
bool replaceFileAtomically(const std::string& path, const std::string& content);

// The suffix of the temporary files replaceFileAtomically writes; leftovers from a killed
// process can be recognised and removed.
extern const char* const kTemporarySuffix;

// Removes the temporary files that a killed replaceFileAtomically of this path left beside it.
void removeLeftoverTemporaries(const std::string& path);

// Renames a file aside as "<path>.broken-YYYYMMDDTHHMMSS" (with a counter when that name is
// taken) and returns the new name; nullopt when the rename fails.
std::optional<std::string> moveAside(const std::string& path);

}  // namespace zelka
