// The readable form of talk, through zelka-host render: speakers, line breaks, surfaces,
// other tags, and bytes that are not Shift_JIS (shown, never dropped).
#include <gtest/gtest.h>

#include "host/host_ghost.h"
#include "host/host_process.h"

namespace zelka {
namespace {

using testing::runHostProcess;
using testing::sjis;

std::string render(const std::string& talk) {
  testing::TempDir work;
  testing::HostResult run =
      runHostProcess(work.path(), "render --names " + testing::quoted("エミリ,Kero"), talk + "\n");
  EXPECT_EQ(run.status, 0) << run.err;
  return run.out;
}

TEST(TalkRenderTest, TagsAreShownReadably) {
  struct Case {
    std::string talk;      // Shift_JIS
    std::string rendered;  // UTF-8
  } cases[] = {
      {"hello", "エミリ: hello\n"},
      {"\\1hi\\0yo\\u\\h!", "Kero: hi\nエミリ: yo!\n"},
      // A scope tag at the start opens no empty turn; nor does switching back and forth
      // without talk in between.
      {"\\1\\0\\1a", "Kero: a\n"},
      {"a\\nb\\n\\nc\\n", "エミリ: a\n        b\n\n        c\n"},
      {"\\0\\s[5]a\\s3b\\1\\s[-1]", "エミリ: [surface 5]a[surface 3]b\nKero: [surface -1]\n"},
      {"a\\w9b\\_w[300]c\\![raise,OnX]d\\e", "エミリ: a\\w9b\\_w[300]c\\![raise,OnX]d\\e\n"},
      {"\\q[Yes,OnYes]\\q[No,OnNo]", "エミリ: [Yes][No]\n"},
      {"100\\% \\\\ back", "エミリ: 100% \\ back\n"},
      {"\\p[2]third\\p[0]first", "character 2: third\nエミリ: first\n"},
      {"%selfname and %keroname meet %username", "エミリ: エミリ and Kero meet User\n"},
      // 表 and ソ end in 0x5C: no tag starts inside a character.
      {sjis("表\\nソ\\1"), "エミリ: 表\n        ソ\n"},
      {sjis("\\0[3]こんにちは"), "エミリ: [3]こんにちは\n"},
      // Bytes that are not Shift_JIS, and control characters, are shown as they are.
      {"a\xFF" "b\x85\x40" "c\x81", "エミリ: a<0xFF>b<0x85>@c<0x81>\n"},
      {"x\x1b[31my\x07", "エミリ: x<0x1B>[31my<0x07>\n"},
      {"\\s[\xFF]end\\", "エミリ: [surface <0xFF>]end\\\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(render(c.talk), c.rendered) << c.talk;
  }
}

TEST(TalkRenderTest, TalkThatOnlyChangesScopeOrSurfaceStillShowsSomething) {
  EXPECT_EQ(render("\\0\\s[0]"), "エミリ: [surface 0]\n");
  EXPECT_EQ(render("\\0"), "");
}

}  // namespace
}  // namespace zelka
