// Path text on POSIX: paths are the kernel's bytes. The module directory's bytes are taken
// as they come; the session's path encoding says how configured names are written into them.
#include "platform/path_text.h"

#include <atomic>

#include "platform/text_codec.h"

namespace zelka {
namespace {

std::atomic<PathEncoding> g_encoding{PathEncoding::kShiftJis};

}  // namespace

PathEncoding pathEncoding() { return g_encoding.load(std::memory_order_relaxed); }

void setPathEncoding(PathEncoding encoding) {
  g_encoding.store(encoding, std::memory_order_relaxed);
}

PathEncoding pathEncodingFor(HostDirectoryForm form) {
  return form == HostDirectoryForm::kUtf8 ? PathEncoding::kUtf8 : PathEncoding::kShiftJis;
}

std::optional<std::string> pathFromHostDirectory(std::string_view bytes, HostDirectoryForm form) {
  if (form == HostDirectoryForm::kUtf8 && utf16ToUtf8(utf8ToUtf16(bytes)) != bytes) {
    return std::nullopt;
  }
  return std::string(bytes);
}

}  // namespace zelka
