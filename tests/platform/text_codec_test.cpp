#include "platform/text_codec.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <iconv.h>
#endif

#include <string>

namespace zelka {
namespace {

TEST(TextCodec, ConvertsAsciiKanaAndKanjiBothWays) {
  struct Case {
    std::string narrow;
    std::u16string wide;
  };
  const Case cases[] = {
      {"Hello, world", u"Hello, world"},
      {"\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd", u"\u3053\u3093\u306b\u3061\u306f"},
      {"\xb1\xb2", u"\uff71\uff72"},                  // half-width katakana
      {"\x95\x5c\x8e\xa6", u"\u8868\u793a"},          // trail byte 0x5C is not a backslash
      {"\x87\x40\xfa\x40", u"\u2460\u2170"},          // code page 932 extensions
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(toWide(c.narrow), c.wide) << c.narrow;
    EXPECT_EQ(toNarrow(c.wide), c.narrow) << c.narrow;
  }
}

TEST(TextCodec, StopsAtTheFirstCharacterThatDoesNotConvert) {
  EXPECT_EQ(toWide("ab\x81"), u"ab");            // lead byte at the end
  EXPECT_EQ(toWide("a\x80z"), u"a");             // not a character in code page 932
  EXPECT_EQ(toWide("a\x81\x20z"), u"a");         // bad trail byte
  EXPECT_EQ(toWide("\xff"), u"");
  EXPECT_EQ(toNarrow(u"ab\U0001F600c"), "ab");   // no form outside the BMP
  EXPECT_EQ(toNarrow(u"x\xd800y"), "x");         // lone surrogate
}

TEST(TextCodec, EveryDecodedCharacterEncodesBackToTheSameCharacter) {
  int checked = 0;
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (!toWide(std::string(1, static_cast<char>(lead))).empty()) continue;  // one-byte kana
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
      std::u16string wide = toWide(bytes);
      if (wide.empty()) continue;
      ASSERT_EQ(wide.size(), 1u);
      EXPECT_EQ(toWide(toNarrow(wide)), wide) << std::hex << lead << trail;
      ++checked;
    }
  }
  EXPECT_GT(checked, 7000);  // JIS X 0208 alone has 6879 characters
}

TEST(TextCodec, LenientDecodingReplacesBadSequencesAndGoesOn) {
  struct Case {
    std::string narrow;
    std::u16string wide;
  };
  const Case cases[] = {
      {"a\x81", u"a\ufffd"},
      {"\x81<b>", u"\ufffd<b>"},        // an ASCII byte after a lead is kept
      {"\x81\xff" "b", u"\ufffd" "b"},  // a non-ASCII bad trail is swallowed
      {"\x80x\xfd", u"\ufffdx\ufffd"},
      {"\x82\xa0\xff\x82\xa2", u"\u3042\ufffd\u3044"},
  };
  for (const Case& c : cases) EXPECT_EQ(decodeCp932Lenient(c.narrow), c.wide) << c.narrow;
}

TEST(TextCodec, StrictEncodingAcceptsOnlyJisX0208Forms) {
  struct Case {
    char32_t codePoint;
    const char* bytes;  // nullptr: rejected
  };
  const Case cases[] = {
      {U'A', "A"},
      {U'\\', "\\"},
      {0xFF71, "\xb1"},       // half-width katakana
      {0x3042, "\x82\xa0"},   // hiragana a
      {0xFFE2, "\x81\xca"},   // not sign: JIS X 0208 form preferred over the IBM one
      {0x2252, "\x81\xe0"},   // approximately equal: row 2, not NEC row 13
      {0xFF5E, "\x81\x60"},   // code page 932 reading of the wave dash position
      {0x2460, nullptr},      // circled one: NEC row 13 only
      {0x2160, nullptr},      // roman numeral one: NEC row 13 / IBM
      {0x2170, nullptr},      // small roman numeral one: NEC-selected IBM / IBM
      {0x7E8A, nullptr},      // NEC-selected IBM kanji
      {0x9AD9, nullptr},      // IBM extension kanji
      {0xE000, nullptr},      // user-defined area
      {0x00A5, nullptr},      // yen sign: only a look-alike byte
      {0x203E, nullptr},      // overline: only a look-alike byte
      {0x301C, nullptr},      // wave dash: reads back as a different character
      {0x00E9, nullptr},
      {0x1F600, nullptr},
  };
  for (const Case& c : cases) {
    std::string out = "prefix";
    bool ok = encodeShiftJisStrict(c.codePoint, out);
    EXPECT_EQ(ok, c.bytes != nullptr) << std::hex << static_cast<unsigned>(c.codePoint);
    EXPECT_EQ(out, std::string("prefix") + (c.bytes ? c.bytes : ""))
        << std::hex << static_cast<unsigned>(c.codePoint);
  }
}

#ifndef _WIN32
// Every strictly encoded character must be readable by a plain Shift_JIS reader (the iconv
// "SHIFT_JIS" converter stands in for xmllint and other tools) and by our own decoder.
TEST(TextCodec, StrictOutputIsReadByAPlainShiftJisReader) {
  iconv_t cd = iconv_open("UTF-16LE", "SHIFT_JIS");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  int accepted = 0;
  for (char32_t cp = 1; cp < 0x10000; ++cp) {
    std::string bytes;
    if (!encodeShiftJisStrict(cp, bytes)) continue;
    ++accepted;
    ASSERT_EQ(decodeCp932Lenient(bytes), std::u16string(1, static_cast<char16_t>(cp)));
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = bytes.data();
    std::size_t inLeft = bytes.size();
    char out[8];
    char* outPtr = out;
    std::size_t outLeft = sizeof out;
    std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    EXPECT_NE(result, static_cast<std::size_t>(-1)) << std::hex << static_cast<unsigned>(cp);
  }
  iconv_close(cd);
  EXPECT_GT(accepted, 6800);
}
#endif

TEST(TextCodec, Utf8AndUtf16HandleSurrogatePairsAndBadInput) {
  EXPECT_EQ(utf16ToUtf8(u"a\u00e9\u3042\U0001F600"),
            "a\xc3\xa9\xe3\x81\x82\xf0\x9f\x98\x80");
  EXPECT_EQ(utf8ToUtf16("a\xc3\xa9\xe3\x81\x82\xf0\x9f\x98\x80"), u"a\u00e9\u3042\U0001F600");
  EXPECT_EQ(utf16ToUtf8(u"x\xd800y\xdc00"), "x\xef\xbf\xbdy\xef\xbf\xbd");
  struct Bad {
    std::string utf8;
    std::u16string wide;
  };
  const Bad bad[] = {
      {"\xc0\x80", u"\ufffd\ufffd"},          // overlong
      {"\xed\xa0\x80", u"\ufffd\ufffd\ufffd"},  // encoded surrogate
      {"\xf4\x90\x80\x80", u"\ufffd\ufffd\ufffd\ufffd"},  // above U+10FFFF
      {"a\xe3\x81", u"a\ufffd\ufffd"},        // cut short
      {"\x80z", u"\ufffdz"},
  };
  for (const Bad& b : bad) EXPECT_EQ(utf8ToUtf16(b.utf8), b.wide);
  std::u16string all;
  for (char32_t cp = 1; cp < 0x10000; ++cp) {
    if (cp < 0xD800 || cp > 0xDFFF) all.push_back(static_cast<char16_t>(cp));
  }
  all += u"\U00010000\U0010FFFF";
  EXPECT_EQ(utf8ToUtf16(utf16ToUtf8(all)), all);
}

}  // namespace
}  // namespace zelka

namespace zelka {
namespace {

TEST(TextCodec, Utf8ProtocolTextTravelsAsNarrowTextAndBack) {
  struct Case {
    std::string utf8;
    std::string narrow;
  };
  const Case cases[] = {
      {"plain & simple", "plain & simple"},
      {"\xE3\x81\x82\xEF\xBD\xB1", "\x82\xA0\xB1"},                 // あ and half-width ア
      {"\xE2\x91\xA0", "\x87\x40"},                                 // ① (code page 932 only)
      {"a\xF0\x9F\x98\x80z", "a&#128512;z"},                        // no narrow form
      {"\xC3\xA9\xC2\xA5\xE2\x80\xBE", "&#233;&#165;&#8254;"},      // é; ¥ and ‾ are no \ or ~
  };
  for (const Case& c : cases) {
    std::string narrow = "<";
    EXPECT_TRUE(appendUtf8AsNarrow(c.utf8, narrow)) << c.utf8;
    EXPECT_EQ(narrow, "<" + c.narrow);
    std::string back;
    appendNarrowAsUtf8(c.narrow, back);
    EXPECT_EQ(back, c.utf8);
  }
}

TEST(TextCodec, OnlyReferencesTheNarrowFormCannotHoldTurnBackAndBadBytesAreRefused) {
  std::string out;
  // Characters with a narrow form, malformed references and a broken pair stay text.
  appendNarrowAsUtf8("&#65; &#12354; &#; &#x41; &#99999999; &#128512 \x81", out);
  EXPECT_EQ(out, "&#65; &#12354; &#; &#x41; &#99999999; &#128512 \xEF\xBF\xBD");
  for (std::string_view bad : {"\xC0\xAF", "\xED\xA0\x80", "\xE3\x81", "\xF5\x80\x80\x80",
                               "\x82\xA0"}) {
    std::string narrow;
    EXPECT_FALSE(appendUtf8AsNarrow(std::string("ok") + std::string(bad), narrow));
    EXPECT_EQ(narrow, "ok");
  }
}

}  // namespace
}  // namespace zelka
