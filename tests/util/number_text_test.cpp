#include "util/number_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace zelka {
namespace {

TEST(NumberText, FormatScientificWidensTheExponent) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double value;
    int precision;
    const char* text;
  };
  const Case cases[] = {
      {0.5, 15, "5.000000000000000e-001"},
      {std::fabs(std::log10(0.5)), 15, "3.010299956639812e-001"},
      {7, 6, "7.000000e+000"},
      {1.0, 15, "1.000000000000000e+000"},
      {2.6, 2, "2.60e+000"},
      {0, 6, "0.000000e+000"},
      {-0.0, 1, "-0.0e+000"},
      {1e100, 3, "1.000e+100"},
      {-1.5e-300, 1, "-1.5e-300"},
      {12345, 0, "1e+004"},
      {inf, 6, "1.#INF00e+000"},
      {-inf, 6, "-1.#INF00e+000"},
      {std::fabs(std::nan("")), 6, "1.#QNAN0e+000"},
      {inf, 2, "1.#Ie+000"},
      {inf, -1, "1.#INF00e+000"},
  };
  for (const Case& c : cases) EXPECT_EQ(formatScientific(c.value, c.precision), c.text);
  EXPECT_EQ(formatScientific(1.0, 5000).size(), 1u + 1 + 1000 + 5);  // precision is capped
}

TEST(NumberText, FormatFixed) {
  EXPECT_EQ(formatFixed(2.5), "2.500000");
  EXPECT_EQ(formatFixed(-1.25, 1), "-1.2");  // round half to even on the exact binary value
  EXPECT_EQ(formatFixed(1e20, 0), "100000000000000000000");
  EXPECT_EQ(formatFixed(std::numeric_limits<double>::infinity(), 3), "1.#IN");
  EXPECT_EQ(formatFixed(1.7976931348623157e308, 0).size(), 309u);
}

TEST(NumberText, ParseDoublePrefixReadsTheLongestValidPrefix) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* text;
    double value;
  };
  const Case cases[] = {
      {"3.5", 3.5},
      {"  \t\n-2.5e3xyz", -2500},
      {"+.5", 0.5},
      {"1e", 1},
      {"1e+", 1},
      {"0x1p4", 16},
      {"-0x.8", -0.5},
      {"0x", 0},
      {"0xg", 0},
      {"abc", 0},
      {"", 0},
      {".", 0},
      {"- 1", 0},
      {"1e999", inf},
      {"-1e999", -inf},
      {"1e-999", 0},
      {"0.000001e-400", 0},
      {"123456789e305", inf},
      {"INF", inf},
      {"-infinity", -inf},
      {"4.9e-324", 4.9e-324},
  };
  for (const Case& c : cases) EXPECT_EQ(parseDoublePrefix(c.text), c.value) << c.text;
  EXPECT_TRUE(std::isnan(parseDoublePrefix("nan(123)")));
  EXPECT_EQ(parseDoublePrefix(u" 12.5\u3042"), 12.5);
  EXPECT_EQ(parseDoublePrefix(u"1\uff10"), 1);  // full-width digits are not digits
  EXPECT_EQ(parseDoublePrefix(formatScientific(0.1, 16)), 0.1);
}

TEST(NumberText, ParseIntegerPrefixSaturates) {
  struct Case {
    const char* text;
    long long value;
    std::int32_t value32;
  };
  const Case cases[] = {
      {"42", 42, 42},
      {"  -17abc", -17, -17},
      {"+8", 8, 8},
      {"\v\f\r 5", 5, 5},
      {"x1", 0, 0},
      {"", 0, 0},
      {"-", 0, 0},
      {"1.9", 1, 1},
      {"2147483648", 2147483648LL, INT32_MAX},
      {"-2147483649", -2147483649LL, INT32_MIN},
      {"9223372036854775807", LLONG_MAX, INT32_MAX},
      {"9223372036854775808", LLONG_MAX, INT32_MAX},
      {"-9223372036854775808", LLONG_MIN, INT32_MIN},
      {"-99999999999999999999999", LLONG_MIN, INT32_MIN},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseIntegerPrefix(c.text), c.value) << c.text;
    EXPECT_EQ(parseInt32Prefix(c.text), c.value32) << c.text;
  }
}

}  // namespace
}  // namespace zelka
