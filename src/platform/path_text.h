// Paths inside the module ("path text"): narrow strings in the form the file-system layer
// takes. On Windows path text is UTF-8, turned into UTF-16 only for the kernel's
// wide-character calls, so a directory with any Unicode name reaches every file the module
// opens. On POSIX path text is the bytes the kernel takes, written in the session's path
// encoding: Shift_JIS for a directory handed over through load, UTF-8 through loadu.
//
// Only paths live in path text. What files contain (knowledge files, dictionaries, stores,
// the variable file, the log) stays Shift_JIS whatever form their names take.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace zelka {

enum class PathEncoding { kShiftJis, kUtf8 };

// How a host hands the module directory over: through load in the system's narrow code page
// (the ANSI code page on Windows, Shift_JIS bytes on POSIX), through loadu in UTF-8.
enum class HostDirectoryForm { kSystemCodePage, kUtf8 };

// The session's path encoding: on Windows always UTF-8 (set is ignored); on POSIX Shift_JIS
// until set. One value for the process: the module sets it when it loads.
PathEncoding pathEncoding();
void setPathEncoding(PathEncoding encoding);

// The path encoding a directory of that form is written in.
PathEncoding pathEncodingFor(HostDirectoryForm form);

// The module directory as path text; nullopt when the bytes are not text of that form
// (on Windows: a byte sequence the ANSI code page does not define, or invalid UTF-8; on
// POSIX: invalid UTF-8 through loadu; load's bytes are taken as they are).
std::optional<std::string> pathFromHostDirectory(std::string_view bytes, HostDirectoryForm form);

// Wide text (a configured directory name, a path read from a document) as path text, and
// back. nullopt when a character has no form in the path encoding or the bytes do not
// decode whole: a shortened path would name another file.
std::optional<std::string> pathFromWide(std::u16string_view wide);
std::optional<std::u16string> pathToWide(std::string_view path);

// A path as Shift_JIS text for the log and messages; characters without a Shift_JIS form
// (and bytes that do not decode) become '?'.
std::string pathForDisplay(std::string_view path);

// Where the last component of a path begins: after the last '/' or '\' that is not the
// second byte of a Shift_JIS character (under the Shift_JIS path encoding), and after a
// drive letter's colon.
std::size_t pathNameStart(std::string_view path);

}  // namespace zelka
