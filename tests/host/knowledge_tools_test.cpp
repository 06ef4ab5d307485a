// scramble and unscramble: exact inverses, a scrambled file the module reads like its plain
// form, and the inputs the tools refuse.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/host_ghost.h"
#include "host/host_process.h"

namespace zelka {
namespace {

using testing::HostResult;
using testing::quoted;
using testing::runHostProcess;
using testing::sjis;
using testing::TempDir;

std::string plainKnowledge() {
  // Japanese text (with 0x5C trail bytes), a line longer than one read, blank lines, and a
  // last line without a line end.
  return sjis("[ZELKA KNOWLEDGE 2.0]\n"
              "// 表示のテスト\n"
              "{\n"
              "token: OnBoot\n"
              "script: こんにちは、表です。\n"
              "script: " + std::string(1500, 'x') + "\n"
              "\n"
              "}\n"
              "{\ntoken: OnClose\nscript: またね\n}");
}

HostResult tool(const TempDir& dir, const std::string& arguments) {
  return runHostProcess(dir.path(), arguments);
}

TEST(KnowledgeToolsTest, ScrambleThenUnscrambleGivesBackTheSameBytes) {
  TempDir dir;
  const std::string plain = plainKnowledge();
  dir.write("talk.tlk", plain);
  HostResult scrambled = tool(dir, "scramble talk.tlk talk.tlc");
  ASSERT_EQ(scrambled.status, 0) << scrambled.err;
  EXPECT_EQ(scrambled.err, "");
  const std::string tlc = testing::readWholeFile(dir.file("talk.tlc"));
  ASSERT_EQ(tlc.size(), plain.size());
  // Every byte but the last of each read is complemented.
  EXPECT_EQ(static_cast<unsigned char>(tlc[0]), static_cast<unsigned char>(~'['));
  EXPECT_EQ(tlc[plain.find('\n')], '\n');
  EXPECT_EQ(tlc.back(), '}');

  HostResult unscrambled = tool(dir, "unscramble talk.tlc back.tlk");
  ASSERT_EQ(unscrambled.status, 0) << unscrambled.err;
  EXPECT_EQ(testing::readWholeFile(dir.file("back.tlk")), plain);
  // And the other way round.
  ASSERT_EQ(tool(dir, "scramble back.tlk again.tlc").status, 0);
  EXPECT_EQ(testing::readWholeFile(dir.file("again.tlc")), tlc);
}

TEST(KnowledgeToolsTest, ScrambledFileReadsLikeThePlainOne) {
  testing::TempGhost plainGhost(testing::makeConfig());
  testing::TempGhost scrambledGhost(testing::makeConfig());
  plainGhost.write("vender/talk.tlk", plainKnowledge());
  TempDir work;
  work.write("talk.tlk", plainKnowledge());
  ASSERT_EQ(tool(work, "scramble talk.tlk " + quoted(scrambledGhost.path("vender/talk.tlc"))).status,
            0);
  HostResult plainCheck = tool(work, "check " + quoted(plainGhost.dir()));
  HostResult scrambledCheck = tool(work, "check " + quoted(scrambledGhost.dir()));
  EXPECT_NE(plainCheck.out.find("  talk.tlk: read, 2 blocks, 3 entries\n"), std::string::npos)
      << plainCheck.out;
  EXPECT_NE(scrambledCheck.out.find("  talk.tlc: read, 2 blocks, 3 entries\n"), std::string::npos)
      << scrambledCheck.out;
}

TEST(KnowledgeToolsTest, InputsTheToolsRefuse) {
  TempDir dir;
  dir.write("talk.tlk", plainKnowledge());
  ASSERT_EQ(tool(dir, "scramble talk.tlk talk.tlc").status, 0);
  dir.write("no-header.tlk", "{\ntoken: OnBoot\n}\n");
  dir.write("f5.tlk", "[ZELKA KNOWLEDGE 2.0]\n{\nscript: a\xF5z\n}\n");

  struct Case {
    std::string arguments;
    std::string error;
  } cases[] = {
      {"scramble talk.tlc twice.tlc", "zelka-host: talk.tlc is already scrambled\n"},
      {"unscramble talk.tlk plain.tlk",
       "zelka-host: talk.tlk is not scrambled (it begins with the plain header)\n"},
      {"scramble no-header.tlk out.tlc",
       "zelka-host: no-header.tlk does not begin with the line [ZELKA KNOWLEDGE 2.0] (a file "
       "without it is never read)\n"},
      {"unscramble no-header.tlk out.tlk",
       "zelka-host: no-header.tlk is not a scrambled knowledge file (its first line does not "
       "read as the header)\n"},
      {"scramble f5.tlk out.tlc",
       "zelka-host: f5.tlk cannot be scrambled: line 3 (byte 0xF5 at column 10) holds a byte "
       "whose complement the reader would take for a line end or the end of the text (0xF5, "
       "0xFF, or 0xF2 before a line end)\n"},
      {"scramble missing.tlk out.tlc", "zelka-host: cannot read missing.tlk\n"},
  };
  for (const Case& c : cases) {
    HostResult run = tool(dir, c.arguments);
    EXPECT_EQ(run.status, 1) << c.arguments;
    EXPECT_EQ(run.err, c.error) << c.arguments;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("twice.tlc")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.tlc")));
  EXPECT_EQ(tool(dir, "scramble only-one").status, 2);
}

TEST(KnowledgeToolsTest, CarriageReturnsAreDroppedWithANote) {
  TempDir dir;
  dir.write("crlf.tlk", "[ZELKA KNOWLEDGE 2.0]\r\n{\r\nscript: a\r\n}\r\n");
  HostResult run = tool(dir, "scramble crlf.tlk crlf.tlc");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "zelka-host: note: the CR LF line ends of crlf.tlk are written as LF\n");
  ASSERT_EQ(tool(dir, "unscramble crlf.tlc back.tlk").status, 0);
  EXPECT_EQ(testing::readWholeFile(dir.file("back.tlk")),
            "[ZELKA KNOWLEDGE 2.0]\n{\nscript: a\n}\n");
}

}  // namespace
}  // namespace zelka
