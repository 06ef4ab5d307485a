#include "util/text_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace zelka {
namespace {

TEST(TextEncodingTest, TellsTheEncodingOfTypicalTexts) {
  struct Case {
    std::string text;
    TextEncoding expected;
  };
  const Case cases[] = {
      {"token: OnBoot\nscript: \\0\\s[0]Hi.\n", TextEncoding::kAscii},
      // ハリ in Shift_JIS, and in UTF-8 (which is also a valid Shift_JIS byte sequence).
      {"\x83\x6e\x83\x8a", TextEncoding::kShiftJis},
      {"\xE3\x83\x8F\xE3\x83\xAA", TextEncoding::kUtf8},
      // こんにちは。 in Shift_JIS, half-width katakana ｱ, then the same greeting in UTF-8.
      {"\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\x81\x42\xb1", TextEncoding::kShiftJis},
      {"\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF\xE3\x80\x82",
       TextEncoding::kUtf8},
      {"\xEF\xBB\xBFplain", TextEncoding::kUtf8},  // a byte-order mark decides
      {std::string("\x00\x01\xFF\xFE\x80", 5), TextEncoding::kUnknown},
      {"\x82", TextEncoding::kUnknown},  // a lead byte at the end
  };
  for (const Case& c : cases) {
    EXPECT_EQ(detectTextEncoding(c.text), c.expected) << c.text;
  }
}

TEST(TextEncodingTest, NamesTheFirstByteThatIsNotShiftJis) {
  EXPECT_EQ(firstNonShiftJisByte("ab\x82\xa0" "c"), std::string_view::npos);
  EXPECT_EQ(firstNonShiftJisByte("ab\x82\x20"), 2u);   // a trail byte below 0x40
  EXPECT_EQ(firstNonShiftJisByte("abc\x80"), 3u);      // 0x80 starts nothing
  EXPECT_EQ(firstNonShiftJisByte("\x82\xa0\xFD"), 2u);
}

TEST(TextEncodingTest, Utf8IsStrict) {
  EXPECT_TRUE(isValidUtf8("\xF0\x9F\x98\x80"));    // U+1F600
  EXPECT_FALSE(isValidUtf8("\xC0\xAF"));           // overlong
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));       // a surrogate
  EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));   // above U+10FFFF
  EXPECT_FALSE(isValidUtf8("\xE3\x81"));           // cut short
}

}  // namespace
}  // namespace zelka
