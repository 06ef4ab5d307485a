#include "util/author_text.h"

#include <gtest/gtest.h>

#include <string>

namespace zelka {
namespace {

using Form = AuthorText::Form;

TEST(AuthorText, EndsAtTheEndOfTextByte) {
  EXPECT_EQ(beforeEndOfText("ab\ncd\x1A\x1Ajunk"), "ab\ncd");
  EXPECT_EQ(beforeEndOfText("\x1A" "all"), "");
  EXPECT_EQ(beforeEndOfText("no end byte\n"), "no end byte\n");
}

TEST(AuthorText, Utf8IsConvertedAndShiftJisKept) {
  struct Case {
    std::string bytes;
    Form form;
    std::string read;
  } cases[] = {
      // ハリ in Shift_JIS is not valid UTF-8: kept.
      {"\x83\x6E\x83\x8A\r\n", Form::kAsSaved, "\x83\x6E\x83\x8A\r\n"},
      // ハリ in UTF-8 would read as 繝上リ; converted, line ends kept.
      {"\xE3\x83\x8F\xE3\x83\xAA\r\nx\n", Form::kConvertedFromUtf8, "\x83\x6E\x83\x8A\r\nx\n"},
      // The byte-order mark goes; the wave dash becomes the Shift_JIS one (0x8160).
      {"\xEF\xBB\xBF[a]\n\xE3\x80\x9C", Form::kConvertedFromUtf8, "[a]\n\x81\x60"},
      {"plain ascii\n", Form::kAsSaved, "plain ascii\n"},
      // Neither encoding (a lone 0x81 before a blank): read as saved, as ever.
      {"a\x81 b", Form::kAsSaved, "a\x81 b"},
  };
  for (const Case& c : cases) {
    AuthorText text = readAuthorText(c.bytes);
    EXPECT_EQ(text.form, c.form) << c.bytes;
    EXPECT_EQ(text.bytes, c.read) << c.bytes;
  }
}

TEST(AuthorText, CharactersWithoutAShiftJisFormRefuseTheText) {
  // Line 2: "ab", then U+1F600 (a surrogate pair), then 髙 (code page 932 has it), then
  // U+00E9 (é, which Shift_JIS lacks).
  AuthorText text =
      readAuthorText("first\nab\xF0\x9F\x98\x80\xE9\xAB\x99\xC3\xA9\n\xC3\xA9\n");
  EXPECT_EQ(text.form, Form::kNotConvertible);
  EXPECT_TRUE(text.bytes.empty());
  EXPECT_EQ(text.line, 2u);
  EXPECT_EQ(text.column, 3u);
  EXPECT_EQ(text.codePoint, 0x1F600u);
  EXPECT_EQ(text.unconvertible, 3u);
  EXPECT_EQ(describeNotConvertible(text),
            "saved as UTF-8, and the character U+1F600 (column 3) has no Shift_JIS form, nor "
            "have 2 more");

  AuthorText one = readAuthorText("\xC3\xA9");
  EXPECT_EQ(describeNotConvertible(one),
            "saved as UTF-8, and the character U+00E9 (column 1) has no Shift_JIS form");

  AuthorText broken = readAuthorText("\xEF\xBB\xBF\x83\x6E");  // a mark, then Shift_JIS
  EXPECT_EQ(broken.form, Form::kNotConvertible);
  EXPECT_EQ(broken.line, 0u);
  EXPECT_EQ(describeNotConvertible(broken),
            "the file begins with a UTF-8 byte-order mark but is not valid UTF-8");
}

}  // namespace
}  // namespace zelka
