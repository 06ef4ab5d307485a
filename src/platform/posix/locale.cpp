// The process locale on POSIX.
#include "platform/locale.h"

#include <clocale>

namespace zelka {

void setProcessLocale(const std::string& name) {
  // setlocale leaves the locale unchanged when it does not know the name.
  std::setlocale(LC_ALL, name.c_str());
}

}  // namespace zelka
