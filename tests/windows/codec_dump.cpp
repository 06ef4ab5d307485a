// Prints the code page 932 codec as the platform layer builds it: every single byte and
// every two-byte sequence that reads as a character, and the narrow and strict forms of every
// BMP character. build-windows.sh compares the output of the Linux and the Windows build, so
// that both platforms read and write exactly the same bytes.
#include <cstdio>
#include <string>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "platform/text_codec.h"

namespace {

void printBytes(const std::string& bytes) {
  for (unsigned char c : bytes) std::printf("%02X", c);
}

}  // namespace

int main() {
#if defined(_WIN32)
  _setmode(_fileno(stdout), _O_BINARY);  // the same bytes as on Linux: no CR before LF
#endif
  using zelka::toNarrow;
  using zelka::toWide;
  for (int first = 0; first < 256; ++first) {
    std::string one(1, static_cast<char>(first));
    std::u16string wide = toWide(one);
    if (!wide.empty()) std::printf("%02X %04X\n", first, static_cast<unsigned>(wide[0]));
    if (first < 0x80) continue;
    for (int second = 0; second < 256; ++second) {
      std::string two = one + static_cast<char>(second);
      std::u16string pair = toWide(two);
      if (pair.size() == 1 && wide.empty()) {
        std::printf("%02X%02X %04X\n", first, second, static_cast<unsigned>(pair[0]));
      }
    }
  }
  for (char32_t cp = 1; cp < 0x10000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::string narrow = toNarrow(std::u16string(1, static_cast<char16_t>(cp)));
    std::string strict;
    bool isStrict = zelka::encodeShiftJisStrict(cp, strict);
    if (narrow.empty() && !isStrict) continue;
    std::printf("U+%04X ", static_cast<unsigned>(cp));
    printBytes(narrow);
    std::printf(isStrict ? " strict\n" : "\n");
  }
  return 0;
}
