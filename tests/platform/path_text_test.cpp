// Path text on POSIX: the directory a host hands over, wide names in either path encoding,
// display text and where a file name begins.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/path_text.h"

namespace zelka {
namespace {

// Runs a test under one path encoding and restores the default afterwards.
class Encoding {
 public:
  explicit Encoding(PathEncoding encoding) { setPathEncoding(encoding); }
  ~Encoding() { setPathEncoding(PathEncoding::kShiftJis); }
};

const std::string kShowSjis = "\x95\x5c\x8e\xa6";                 // \u8868\u793a, trail byte 0x5C
const std::string kShowUtf8 = "\xe8\xa1\xa8\xe7\xa4\xba";
const std::string kEmojiUtf8 = "\xf0\x9f\x98\x80";                // U+1F600

TEST(PathTextTest, HostDirectoryIsTakenAsGivenOrRefusedWhenNotUtf8) {
  struct Case {
    std::string bytes;
    HostDirectoryForm form;
    bool taken;
  };
  const Case cases[] = {
      {"/g/" + kShowSjis + "/", HostDirectoryForm::kSystemCodePage, true},
      {"/g/\x82\x20/", HostDirectoryForm::kSystemCodePage, true},  // load never decodes here
      {"/g/J\xc3\xbcrgen/" + kEmojiUtf8 + "/", HostDirectoryForm::kUtf8, true},
      {"/g/" + kShowSjis + "/", HostDirectoryForm::kUtf8, false},
      {"/g/\xed\xa0\x80/", HostDirectoryForm::kUtf8, false},    // an encoded surrogate
      {"/g/\xc0\xaf", HostDirectoryForm::kUtf8, false},          // an overlong slash
  };
  for (const Case& c : cases) {
    std::optional<std::string> path = pathFromHostDirectory(c.bytes, c.form);
    EXPECT_EQ(path.has_value(), c.taken) << c.bytes;
    if (path) {
      EXPECT_EQ(*path, c.bytes);
    }
  }
  EXPECT_EQ(pathEncodingFor(HostDirectoryForm::kSystemCodePage), PathEncoding::kShiftJis);
  EXPECT_EQ(pathEncodingFor(HostDirectoryForm::kUtf8), PathEncoding::kUtf8);
}

TEST(PathTextTest, WideNamesBecomePathTextInTheSessionsEncoding) {
  struct Case {
    PathEncoding encoding;
    std::u16string wide;
    std::optional<std::string> path;
  };
  const Case cases[] = {
      {PathEncoding::kShiftJis, u"\u8868\u793a/", kShowSjis + "/"},
      {PathEncoding::kUtf8, u"\u8868\u793a/", kShowUtf8 + "/"},
      {PathEncoding::kShiftJis, u"J\u00fcrgen/", std::nullopt},   // no Shift_JIS form
      {PathEncoding::kUtf8, u"J\u00fcrgen/", "J\xc3\xbcrgen/"},
      {PathEncoding::kUtf8, u"\U0001F600", kEmojiUtf8},
      {PathEncoding::kUtf8, std::u16string(1, char16_t(0xD800)), std::nullopt},
  };
  for (const Case& c : cases) {
    Encoding session(c.encoding);
    EXPECT_EQ(pathFromWide(c.wide), c.path);
    if (c.path) {
      EXPECT_EQ(pathToWide(*c.path), c.wide);
    }
  }
  Encoding utf8(PathEncoding::kUtf8);
  EXPECT_EQ(pathToWide(kShowSjis), std::nullopt);
}

TEST(PathTextTest, DisplayTextIsShiftJisWithUnknownCharactersMarked) {
  {
    Encoding utf8(PathEncoding::kUtf8);
    EXPECT_EQ(pathForDisplay("/J\xc3\xbcrgen/" + kShowUtf8 + kEmojiUtf8 + "/\xff"),
              "/J?rgen/" + kShowSjis + "?/?");
  }
  EXPECT_EQ(pathForDisplay("/" + kShowSjis + "/"), "/" + kShowSjis + "/");
}

TEST(PathTextTest, FileNameStartsAfterTheLastSeparatorOfTheEncoding) {
  // Under Shift_JIS the 0x5C of \u8868 is no separator; UTF-8 has none inside a character.
  EXPECT_EQ(pathNameStart("/a/" + kShowSjis + ".tlk"), 3u);
  EXPECT_EQ(pathNameStart("C:" + kShowSjis), 2u);
  Encoding utf8(PathEncoding::kUtf8);
  EXPECT_EQ(pathNameStart("/a/" + kShowUtf8 + "\\" + kEmojiUtf8), 10u);
}

}  // namespace
}  // namespace zelka
