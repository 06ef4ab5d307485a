// The clock text shared by every platform.
#include "platform/clock.h"

#include <cstdio>

namespace zelka {

std::string asctimeNow() {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::optional<std::tm> now = localTime(secondsSinceEpoch());
  if (!now) return "Thu Jan 01 00:00:00 1970";
  const std::tm& t = *now;
  int day = (t.tm_wday >= 0 && t.tm_wday < 7) ? t.tm_wday : 0;
  int month = (t.tm_mon >= 0 && t.tm_mon < 12) ? t.tm_mon : 0;
  char buffer[64];
  // The day of the month is zero-padded to two digits, as the Windows runtime writes it.
  std::snprintf(buffer, sizeof buffer, "%s %s %02d %02d:%02d:%02d %d", kDays[day], kMonths[month],
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_year + 1900);
  return buffer;
}

}  // namespace zelka
