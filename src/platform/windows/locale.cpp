// The process locale on Windows.
#include "platform/locale.h"

#include <locale.h>

#include "platform/text_codec.h"

namespace zelka {

void setProcessLocale(const std::string& name) {
  // The name is Shift_JIS text from the configuration; the runtime takes it as wide text and
  // leaves the locale unchanged when it does not know it.
  std::u16string wide = toWide(name);
  std::wstring value(wide.begin(), wide.end());
  _wsetlocale(LC_ALL, value.c_str());
}

}  // namespace zelka
