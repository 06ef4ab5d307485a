#include "util/number_text.h"

#include <gtest/gtest.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

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

  // The buffer form writes the same text, and nothing at all when the text does not fit.
  for (const Case& c : cases) {
    char out[kScientificCapacity];
    std::size_t size = formatScientificTo(out, sizeof out, c.value, c.precision);
    EXPECT_EQ(std::string(out, size), c.text);
    EXPECT_EQ(formatScientificTo(out, size - 1, c.value, c.precision), 0u) << c.text;
  }
}

TEST(NumberText, FormatScientificToFitsEveryDoubleAtFullPrecision) {
  struct Case {
    double value;
    const char* text;  // at precision 15
  };
  const Case cases[] = {
      {std::numeric_limits<double>::max(), "1.797693134862316e+308"},
      {-std::numeric_limits<double>::max(), "-1.797693134862316e+308"},
      {std::numeric_limits<double>::denorm_min(), "4.940656458412465e-324"},
      {1.0e-99, "1.000000000000000e-099"},
      {1e-7, "1.000000000000000e-007"},  // the double lies below 10^-7: rounding carries
  };
  for (const Case& c : cases) {
    char out[kScientificCapacity];
    EXPECT_EQ(std::string(out, formatScientificTo(out, sizeof out, c.value, 15)), c.text);
    for (int precision = 0; precision <= 17; ++precision) {
      EXPECT_NE(formatScientificTo(out, sizeof out, c.value, precision), 0u) << c.text;
    }
  }
}

// The text of "%.15e" from the general conversion, written out independently.
std::string referenceScientific15(double value) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 15);
  std::string text(buffer, result.ptr);
  std::size_t e = text.find('e');
  if (text.size() - (e + 2) < 3) text.insert(e + 2, 3 - (text.size() - (e + 2)), '0');
  return text;
}

double referenceParse(const std::string& text) {
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// Sixteen significant digits both ways, over the magnitudes stored distances and totals take
// and past them: every text must be the general conversion's, and every text must read back
// as the general reader reads it.
TEST(NumberText, SixteenDigitTextsMatchTheGeneralConversions) {
  std::mt19937_64 random(20261208);
  std::vector<double> values = {
      1234567890123456.5,  1234567890123457.5,  // exact halves go to the even neighbour
      0.5, 1.0, 10.0, 1e15, 1e16, 9999999999999999.0, 1e-12, 1e-13,
      1e-7, 1e-6, 0.30102999566398120, std::fabs(std::log10(1.0 / 3.0)),
      std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min(), 0.0, -0.0};
  for (int power = -16; power <= 18; ++power) {
    double ten = std::pow(10.0, power);
    double below = ten, above = ten;
    for (int step = 0; step < 8; ++step) {
      below = std::nextafter(below, 0.0);
      above = std::nextafter(above, HUGE_VAL);
      values.push_back(below);
      values.push_back(above);
    }
  }
  std::uniform_real_distribution<double> exponent(-15.0, 18.0);
  for (int i = 0; i < 200000; ++i) values.push_back(std::pow(10.0, exponent(random)));
  for (int i = 0; i < 100000; ++i) {
    // Values with few binary digits: the ones whose decimal expansions end early or in a half.
    std::uint64_t numerator = random() >> (11 + random() % 50);
    values.push_back(std::ldexp(static_cast<double>(numerator), -static_cast<int>(random() % 60)));
  }
  for (int i = 0; i < 100000; ++i) {
    std::uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (std::isfinite(value)) values.push_back(value);
  }
  int mismatches = 0;
  for (double magnitude : values) {
    for (double value : {magnitude, -magnitude}) {
      const std::string expected = referenceScientific15(value);
      const std::string text = formatScientific(value, 15);
      const double read = parseDoublePrefix(text);
      const double expectedRead = referenceParse(expected);
      if (text != expected || std::memcmp(&read, &expectedRead, sizeof read) != 0) {
        if (++mismatches <= 10) {
          ADD_FAILURE() << expected << " written as " << text << ", read as " << read;
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
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
      {"--5", 0},  // one sign only
      {"+-5", 0},
      {"-+5", 0},
      {"3.010299956639812e-001", 0.3010299956639812},
      {"-3.010299956639812e-001x", -0.3010299956639812},
      {"3.010299956639812e-0012", 3.010299956639812e-12},  // four exponent digits
      {"3.010299956639812e-00012", 3.010299956639812e-12},
      {"1.000000000000000e+", 1},
      {"9.999999999999999e+022", 9.999999999999999e22},
      {"9.999999999999999e+023", 9.999999999999999e23},
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

TEST(NumberText, AddDecimalTexts) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"-1", "1", "0"},
      {"2", "1", "3"},
      {"9", "10", "19"},
      {"999", "1", "1000"},
      {"12345678901234567890", "1", "12345678901234567891"},
      {"007", "1", "008"},
      {" 1 2", "3", "15"},
      {"-1", "5", "4"},
      {"10", "-1", "9"},
      {"", "1", "1"},
      {"", "", "0"},
  };
  for (const auto& [a, b, sum] : cases) EXPECT_EQ(addDecimalTexts(a, b), sum) << a << "+" << b;
}

}  // namespace
}  // namespace zelka
