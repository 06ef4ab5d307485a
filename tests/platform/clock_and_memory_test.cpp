#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <regex>

#include "platform/clock.h"
#include "platform/host_memory.h"
#include "platform/locale.h"

namespace zelka {
namespace {

TEST(Clock, AsctimeHasTheFixedTwentyFourCharacterForm) {
  std::string now = asctimeNow();
  EXPECT_EQ(now.size(), 24u) << now;
  EXPECT_TRUE(std::regex_match(
      now, std::regex("(Sun|Mon|Tue|Wed|Thu|Fri|Sat) "
                      "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                      "\\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4}")))
      << now;
}

TEST(Clock, LocalTimeBreaksDownCalendarSeconds) {
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  auto t = localTime(1796701625);  // 2026-12-08 03:47:05 UTC, a Tuesday
  ASSERT_TRUE(t.has_value());
  EXPECT_EQ(t->tm_year, 126);
  EXPECT_EQ(t->tm_mon, 11);
  EXPECT_EQ(t->tm_mday, 8);
  EXPECT_EQ(t->tm_wday, 2);
  EXPECT_EQ(t->tm_hour, 3);
  EXPECT_EQ(t->tm_min, 47);
  EXPECT_EQ(t->tm_sec, 5);
  if (old) {
    ::setenv("TZ", saved.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
  std::int64_t before = secondsSinceEpoch();
  EXPECT_GT(before, 1600000000);
  std::uint32_t a = tickCountMs();
  std::uint32_t b = tickCountMs();
  EXPECT_LT(static_cast<std::uint32_t>(b - a), 60000u);
}

TEST(HostMemory, CopiesStopAtZeroAndTheLengthAndResponsesAreTerminated) {
  char request[] = {'G', 'E', 'T', '\0', 'x'};
  void* block = std::malloc(sizeof request);
  std::memcpy(block, request, sizeof request);
  EXPECT_EQ(copyFromHostBlock(block, 5), "GET");
  EXPECT_EQ(copyFromHostBlock(block, 2), "GE");
  EXPECT_EQ(copyFromHostBlock(block, 0), "");
  EXPECT_EQ(copyFromHostBlock(block, -3), "");
  EXPECT_EQ(copyFromHostBlock(nullptr, 5), "");
  freeHostBlock(block);
  freeHostBlock(nullptr);

  HostBlock response = allocateHostBlock("SHIORI/2.6 200 OK");
  ASSERT_NE(response, nullptr);
  EXPECT_STREQ(static_cast<const char*>(response), "SHIORI/2.6 200 OK");
  std::free(response);
}

TEST(Locale, UnknownNamesAreIgnored) {
  setProcessLocale("C");
  setProcessLocale("no-such-locale-name");
  EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
}

}  // namespace
}  // namespace zelka
