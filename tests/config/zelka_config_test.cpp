#include "config/zelka_config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/text_codec.h"
#include "support/temp_dir.h"

namespace zelka {
namespace {

using testing::readBytes;
using testing::TempDir;
using testing::writeBytes;

// Writes zelkaconf.xml in Shift_JIS from UTF-16 text (the declaration is added).
void writeConfig(const TempDir& dir, const std::u16string& body) {
  writeBytes(dir.file("zelkaconf.xml"),
             "<?xml version='1.0' encoding='Shift_JIS'?>\n" + toNarrow(body));
}

std::u16string directoryOf(const TempDir& dir) {
  return dir.wide("");
}

std::set<std::string> filesIn(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// Every lookup of a configuration that holds nothing.
void expectEmpty(const ZelkaConfig& config) {
  EXPECT_EQ(config.profile(u"talk_interval"), u"");  // not the default 120
  EXPECT_EQ(config.profile(u"birthday"), u"");
  EXPECT_EQ(config.runlevel(), 0);
  EXPECT_EQ(config.directory(u"Directory", u"learning"), u"");
  EXPECT_EQ(config.category(u"ms"), u"");
  EXPECT_EQ(config.referenceSeparation(u"OnMouseMove", 3), u"");
  EXPECT_EQ(config.eventRename(u"OnBoot"), u"OnBoot");
}

TEST(ZelkaConfig, DefaultsFillEverythingMissing) {
  TempDir dir;
  writeConfig(dir, u"<ZelkaConfiguration><GhostProfile ghost_name=\"Anna\" ghost_id=\"\"/>"
                   u"<RunEnvironment runlevel=\"3\"/>"
                   u"<DefaultCategory><Define type=\"mt\" category=\"\"/>"
                   u"<Define type=\"me\" category=\"料理\"/><Define type=\"mx\" category=\"X\"/>"
                   u"</DefaultCategory></ZelkaConfiguration>");
  ZelkaConfig config(directoryOf(dir));
  EXPECT_EQ(config.moduleDirectory(), directoryOf(dir));
  struct Entry {
    std::u16string key, value;
  };
  const Entry profile[] = {
      {u"locale", u""},           {u"ghost_id", u"zelka"},   // present but empty
      {u"ghost_name", u"Anna"},   {u"birthday", u"2001/05/03"},
      {u"emotion_border", u"50"}, {u"talk_interval", u"120"},
      {u"listen_wait", u"16"},    {u"think_wait", u"5"},
      {u"autosave_interval", u"600"},
      {u"unknown", u""},
  };
  for (const auto& e : profile) {
    EXPECT_EQ(config.profile(e.key), e.value) << std::string(e.key.begin(), e.key.end());
  }
  EXPECT_EQ(config.runlevel(), 3);
  const Entry categories[] = {
      {u"ms", u"人名"}, {u"mz", u"無機物"}, {u"ml", u"集合"}, {u"mc", u"社名"},
      {u"mh", u"店名"}, {u"mt", u"技"},     {u"me", u"料理"}, {u"mp", u"地名"},
      {u"m?", u"非限定"}, {u"mx", u""},  // a code outside the table is never read
  };
  for (const auto& e : categories) EXPECT_EQ(config.category(e.key), e.value);
  // No Directory elements: vender is empty, learning has its default; master is not read.
  EXPECT_EQ(config.directory(u"Directory", u"vender"), u"");
  EXPECT_EQ(config.directory(u"Directory", u"learning"), u"_learning/");
  EXPECT_EQ(config.directory(u"Directory", u"master"), u"");
  EXPECT_EQ(config.directory(u"directory", u"learning"), u"");  // case matters
}

TEST(ZelkaConfig, MissingSectionsTakeTheirDefaults) {
  TempDir dir;
  writeConfig(dir, u"<ZelkaConfiguration/>");
  ZelkaConfig config;
  ASSERT_TRUE(config.read(directoryOf(dir)));
  EXPECT_EQ(config.profile(u"talk_interval"), u"120");
  EXPECT_EQ(config.profile(u"birthday"), u"2001/05/03");
  EXPECT_EQ(config.runlevel(), 0);
  EXPECT_EQ(config.category(u"m?"), u"非限定");
  EXPECT_EQ(config.directory(u"Directory", u"learning"), u"_learning/");
  EXPECT_EQ(config.eventRename(u"OnBoot"), u"OnBoot");
}

TEST(ZelkaConfig, DirectoriesAreMatchedByType) {
  TempDir dir;
  writeConfig(dir, u"<ZelkaConfiguration><RunEnvironment>"
                   u"<Directory type=\"vender\" name=\"ghost/vendor/\"/>"
                   u"<Directory type=\"vender\" name=\"second/\"/>"
                   u"<Folder type=\"learning\" name=\"not/a/directory/\"/>"
                   u"<Directory type=\"master\" name=\"m/\"/>"
                   u"</RunEnvironment></ZelkaConfiguration>");
  ZelkaConfig config(directoryOf(dir));
  EXPECT_EQ(config.directory(u"Directory", u"vender"), u"ghost/vendor/");
  EXPECT_EQ(config.directory(u"Directory", u"learning"), u"_learning/");
  EXPECT_EQ(config.directory(u"Directory", u"master"), u"");
}

TEST(ZelkaConfig, RunlevelIsReadAsAtoi) {
  struct Case {
    std::u16string attribute;
    int level;
  };
  const Case cases[] = {
      {u"runlevel=\"4\"", 4},          {u"runlevel=\" 12x\"", 12},
      {u"runlevel=\"abc\"", 0},        {u"runlevel=\"-1\"", -1},
      {u"runlevel=\"\"", 0},           {u"", 0},
      {u"runlevel=\"99999999999\"", 2147483647},
  };
  for (const auto& c : cases) {
    TempDir dir;
    writeConfig(dir, u"<ZelkaConfiguration><RunEnvironment " + c.attribute +
                         u"/></ZelkaConfiguration>");
    ZelkaConfig config(directoryOf(dir));
    EXPECT_EQ(config.runlevel(), c.level) << std::string(c.attribute.begin(), c.attribute.end());
  }
}

TEST(ZelkaConfig, ReferenceSeparationAndRenamesKeepDocumentOrder) {
  TempDir dir;
  writeConfig(dir,
              u"<ZelkaConfiguration>"
              u"<ReferenceSeparation>"
              u"<Sep event=\"OnMouseMove\" reference=\"03\" expr=\"leading zero\"/>"
              u"<Sep event=\"OnMouseMove\" reference=\"3\" expr=\"three\"/>"
              u"<Other event=\"OnMouseMove\" reference=\"3\" expr=\"later\"/>"
              u"<Sep event=\"OnBoot\" reference=\"4294967295\" expr=\"max\"/>"
              u"<Sep event=\"OnClose\" reference=\"0\"/>"
              u"<!-- comment -->text"
              u"</ReferenceSeparation>"
              u"<EventRename>"
              u"<R name=\"OnBoot\" rename=\"OnStart\"/>"
              u"<R name=\"OnBoot\" rename=\"OnSecond\"/>"
              u"<Any name=\"OnClose\" rename=\"\"/>"
              u"<R name=\"OnMinimize\"/>"
              u"<R rename=\"OnNothing\"/>"
              u"<R name=\"On&quot;Quote\" rename=\"Quoted\"/>"
              u"</EventRename></ZelkaConfiguration>");
  ZelkaConfig config(directoryOf(dir));
  EXPECT_EQ(config.referenceSeparation(u"OnMouseMove", 3), u"three");
  EXPECT_EQ(config.referenceSeparation(u"OnMouseMove", 30), u"");
  EXPECT_EQ(config.referenceSeparation(u"OnBoot", 4294967295u), u"max");
  EXPECT_EQ(config.referenceSeparation(u"OnClose", 0), u"");  // lacks expr: skipped
  EXPECT_EQ(config.referenceSeparation(u"onmousemove", 3), u"");

  EXPECT_EQ(config.eventRename(u"OnBoot"), u"OnStart");  // the first wins
  EXPECT_EQ(config.eventRename(u"OnClose"), u"OnClose");  // empty rename: the name itself
  EXPECT_EQ(config.eventRename(u"OnMinimize"), u"OnMinimize");
  EXPECT_EQ(config.eventRename(u""), u"");
  EXPECT_EQ(config.eventRename(u"On\"Quote"), u"Quoted");
}

TEST(ZelkaConfig, UnreadableFilesLeaveTheConfigurationEmptyAndUntouched) {
  struct Case {
    std::string label;
    std::string bytes;  // nullopt-like: "-" means no file at all
  };
  const Case cases[] = {
      {"no file", "-"},
      {"empty file", ""},
      {"malformed", "<?xml version='1.0' encoding='Shift_JIS'?><ZelkaConfiguration><GhostProfile>"},
      {"Shift_JIS bytes declared UTF-8",
       "<?xml version='1.0' encoding='UTF-8'?><ZelkaConfiguration><GhostProfile ghost_name=\"" +
           toNarrow(u"花子") + "\"/></ZelkaConfiguration>"},
      {"unknown encoding",
       "<?xml version='1.0' encoding='ISO-2022-JP'?><ZelkaConfiguration/>"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    if (c.bytes != "-") writeBytes(dir.file("zelkaconf.xml"), c.bytes);
    writeBytes(dir.file("zelkaconf.xml.zelka-tmp.1.1"), "not ours to delete");
    auto before = filesIn(dir);
    ZelkaConfig config;
    EXPECT_FALSE(config.read(directoryOf(dir))) << c.label;
    expectEmpty(config);
    // The author's files are never renamed, deleted or rewritten.
    EXPECT_EQ(filesIn(dir), before) << c.label;
    if (c.bytes != "-") {
      EXPECT_EQ(readBytes(dir.file("zelkaconf.xml")), c.bytes) << c.label;
    }
  }
  ZelkaConfig none;
  EXPECT_FALSE(none.read(u""));
  expectEmpty(none);
  expectEmpty(ZelkaConfig());
}

TEST(ZelkaConfig, FailedReadForgetsAnEarlierOne) {
  TempDir good;
  writeConfig(good, u"<ZelkaConfiguration/>");
  TempDir bad;
  ZelkaConfig config(directoryOf(good));
  ASSERT_EQ(config.profile(u"think_wait"), u"5");
  EXPECT_FALSE(config.read(directoryOf(bad)));
  expectEmpty(config);
}

TEST(ZelkaConfig, OddContentGivesDefinedValues) {
  TempDir dir;
  // A 100 KiB value, invalid Shift_JIS bytes and a character reference outside JIS X 0208.
  std::string big(100 * 1024, 'x');
  std::string bytes = "<?xml version='1.0' encoding='Shift_JIS'?>\n<ZelkaConfiguration>"
                      "<GhostProfile ghost_name=\"" + big + "\" ghost_id=\"a\x81\x20z\xA0" +
                      "\" birthday=\"&#9312;&#128512;\" locale=\"Japanese_Japan.932\"/>"
                      "</ZelkaConfiguration>";
  writeBytes(dir.file("zelkaconf.xml"), bytes);
  ZelkaConfig config;
  ASSERT_TRUE(config.read(directoryOf(dir)));
  EXPECT_EQ(config.profile(u"ghost_name"), std::u16string(big.begin(), big.end()));
  EXPECT_EQ(config.profile(u"ghost_id"), u"a\uFFFD z\uFFFD");
  EXPECT_EQ(config.profile(u"birthday"), u"①\U0001F600");
  EXPECT_EQ(config.profile(u"locale"), u"Japanese_Japan.932");
}

TEST(ZelkaConfig, FileInAnotherEncodingThanDeclared) {
  // UTF-8 bytes under a Shift_JIS declaration: every ASCII character of the markup survives
  // the lenient decoding, so the file reads, with mangled Japanese values.
  TempDir dir;
  std::string utf8Name = utf16ToUtf8(u"料理");
  writeBytes(dir.file("zelkaconf.xml"),
             "<?xml version='1.0' encoding='Shift_JIS'?><ZelkaConfiguration>"
             "<GhostProfile ghost_id=\"mine\"/><DefaultCategory>"
             "<Define type=\"me\" category=\"" + utf8Name + "\"/>"
             "</DefaultCategory></ZelkaConfiguration>");
  ZelkaConfig config(directoryOf(dir));
  EXPECT_EQ(config.profile(u"ghost_id"), u"mine");
  std::u16string mangled = config.category(u"me");
  EXPECT_FALSE(mangled.empty());
  EXPECT_NE(mangled, u"料理");
  EXPECT_EQ(mangled, decodeCp932Lenient(utf8Name));
}

}  // namespace
}  // namespace zelka
