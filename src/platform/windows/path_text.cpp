// Path text on Windows: always UTF-8. The directory load receives is text in the system's
// ANSI code page (code page 932 on a Japanese system, 1252 on a Western one); loadu's is UTF-8.
#include "platform/path_text.h"

#include <windows.h>

#include "platform/text_codec.h"

namespace zelka {

PathEncoding pathEncoding() { return PathEncoding::kUtf8; }

void setPathEncoding(PathEncoding) {}

PathEncoding pathEncodingFor(HostDirectoryForm) { return PathEncoding::kUtf8; }

std::optional<std::string> pathFromHostDirectory(std::string_view bytes, HostDirectoryForm form) {
  if (form == HostDirectoryForm::kUtf8) {
    if (utf16ToUtf8(utf8ToUtf16(bytes)) != bytes) return std::nullopt;
    return std::string(bytes);
  }
  if (bytes.empty()) return std::string();
  if (bytes.size() > 0x7FFFFFFF) return std::nullopt;
  const int size = static_cast<int>(bytes.size());
  // A byte sequence the code page does not define refuses the directory instead of naming
  // another one.
  const int units = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size,
                                        nullptr, 0);
  if (units <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(), units) !=
      units) {
    return std::nullopt;
  }
  return utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

}  // namespace zelka
