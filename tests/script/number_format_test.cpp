#include "script/number_format.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace zelka {
namespace {

struct CastCase {
  double value;
  std::string cast;
  std::string expected;
};

TEST(NumberFormatTest, CastsAndSafeFormats) {
  const double inf = std::numeric_limits<double>::infinity();
  const CastCase cases[] = {
      {2.6, "", "3"},
      {2.6, "int", "3"},
      {2.5, "int", "2"},
      {-2.6, "abs", "3"},
      {2.6, "float", "2.600000"},
      {2.6, "double", "2.600000e+000"},
      {2.6, "%.2e", "2.60e+000"},
      {2.6, "%e", "2.600000e+000"},
      {2.6, "%E", "2.600000E+000"},
      {0.0, "%e", "0.000000e+000"},
      {12345, "%.0e", "1e+004"},
      {2.6, "%8.3f|", "   2.600|"},
      {2.6, "%-8.1f|", "2.6     |"},
      {2.6, "%08.2f", "00002.60"},
      {-2.6, "%08.2f", "-0002.60"},
      {2.6, "%+.1f", "+2.6"},
      {2.6, "% .1f", " 2.6"},
      {2.6, "%#.0f", "3."},
      {2.6, "%lf", "2.600000"},
      {2.6, "%g", "2.6"},
      {2.6, "%#g", "2.60000"},
      {1e-10, "%G", "1E-010"},
      {1e20, "%g", "1e+020"},
      {100000, "%g", "100000"},
      {1e6, "%g", "1e+006"},
      {1.0, "%a", "0x1p+0"},
      {1.0, "%A", "0X1P+0"},
      {1.0, "%.3a", "0x1.000p+0"},
      {inf, "%f", "inf"},
      {2.6, "value: %.1f%%", "value: 2.6%"},
      // Everything but one floating conversion is written as it stands.
      {2.6, "%s", "%s"},
      {2.6, "%n", "%n"},
      {2.6, "%d", "%d"},
      {2.6, "%x|%p", "%x|%p"},
      {2.6, "%.1f %.2f", "2.6 %.2f"},
      {2.6, "%*d", "%*d"},
      {2.6, "%*f", "%*f"},
      {2.6, "%.*f", "%.*f"},
      {2.6, "%Lf", "2.600000"},
      {2.6, "%hf", "%hf"},
      {2.6, "abc%", "abc%"},
      {2.6, "%5", "%5"},
  };
  for (const CastCase& c : cases) {
    EXPECT_EQ(formatWithCast(c.value, c.cast), c.expected) << c.cast << " of " << c.value;
  }
}

TEST(NumberFormatTest, WidthsAndLengthsAreBounded) {
  EXPECT_EQ(formatWithCast(2.6, "%1000000f").size(), 1024u);
  EXPECT_EQ(formatWithCast(2.6, "%.100000f").size(), 2u + 512u);
  EXPECT_EQ(formatWithCast(2.6, "%99999999999999999999999.99999999999999999999e").size(), 1024u);
  EXPECT_EQ(formatWithCast(1e308, "%.100000f").size(), 309u + 1u + 512u);
  EXPECT_EQ(formatWithCast(2.6, std::string(5000, 'x') + "%f").size(), kNumberFormatLimit);
  EXPECT_LE(formatWithCast(-1e308, "%-1000.1000f%-1000.1000e").size(), kNumberFormatLimit);
  // A two-byte character is never cut in half at the limit.
  const std::string cut = formatWithCast(1, std::string(3000, '\x82'));
  EXPECT_EQ(cut.size(), kNumberFormatLimit - 1);
}

TEST(NumberFormatTest, CastOfArguments) {
  EXPECT_EQ(castOfArguments("(int)"), "int");
  EXPECT_EQ(castOfArguments("( \"%.2f\" )"), "%.2f");
  EXPECT_EQ(castOfArguments(""), "");
  EXPECT_EQ(castOfArguments("()"), "");
}

}  // namespace
}  // namespace zelka
