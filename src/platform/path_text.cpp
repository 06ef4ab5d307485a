// Path text conversions shared by every platform; the session's path encoding and the
// module directory's hand-over are in posix/ and windows/.
#include "platform/path_text.h"

#include "platform/codec_tables.h"
#include "platform/text_codec.h"

namespace zelka {

std::optional<std::string> pathFromWide(std::u16string_view wide) {
  if (pathEncoding() == PathEncoding::kUtf8) {
    std::string utf8 = utf16ToUtf8(wide);
    // The UTF-8 writer replaces an unpaired surrogate; such a name cannot be written back.
    if (utf8ToUtf16(utf8) != wide) return std::nullopt;
    return utf8;
  }
  std::string narrow = toNarrow(wide);
  std::u16string back;
  if (!codec::decodeWhole(narrow, back) || back != wide) return std::nullopt;
  return narrow;
}

std::optional<std::u16string> pathToWide(std::string_view path) {
  if (pathEncoding() == PathEncoding::kUtf8) {
    std::u16string wide = utf8ToUtf16(path);
    // The UTF-8 reader replaces what does not decode; only a path that reads back is one.
    if (utf16ToUtf8(wide) != path) return std::nullopt;
    return wide;
  }
  std::u16string wide;
  if (!codec::decodeWhole(path, wide)) return std::nullopt;
  return wide;
}

std::string pathForDisplay(std::string_view path) {
  // Under Shift_JIS the path already is the text the log takes.
  if (pathEncoding() == PathEncoding::kShiftJis) return std::string(path);
  const std::u16string wide = utf8ToUtf16(path);
  std::string out;
  out.reserve(path.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const char16_t unit = wide[i];
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      // A character beyond the BMP (or a broken half) has no Shift_JIS form.
      if (unit <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
        ++i;
      }
      out += '?';
      continue;
    }
    std::string narrow = toNarrow(std::u16string_view(&unit, 1));
    out += narrow.empty() ? std::string("?") : narrow;
  }
  return out;
}

std::size_t pathNameStart(std::string_view path) {
  std::size_t start = 0;
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    start = 2;
  }
  // In Shift_JIS a backslash can be the second byte of a character (0x5C), which must not be
  // taken for a separator; a slash never can. UTF-8 never has either inside a character.
  const bool shiftJis = pathEncoding() == PathEncoding::kShiftJis;
  std::size_t nameStart = start;
  std::size_t i = start;
  while (i < path.size()) {
    const auto c = static_cast<unsigned char>(path[i]);
    const bool lead = shiftJis && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
    if (lead && i + 1 < path.size()) {
      const auto trail = static_cast<unsigned char>(path[i + 1]);
      if (trail >= 0x40 && trail <= 0xFC && trail != 0x7F) {
        i += 2;
        continue;
      }
    }
    if (c == '/' || c == '\\') nameStart = i + 1;
    ++i;
  }
  return nameStart;
}

}  // namespace zelka
