// Scripted sessions (--play) and the interactive session fed through a pipe: the transcript,
// the requests behind each command, and how bad lines are reported.
#include <gtest/gtest.h>

#include "host/host_ghost.h"
#include "host/host_process.h"

namespace zelka {
namespace {

using testing::HostGhost;
using testing::HostResult;
using testing::quoted;
using testing::runHostProcess;

HostResult play(const HostGhost& g, const std::string& script, const std::string& options = {}) {
  g.work.write("session.play", script);
  return runHostProcess(g.work.path(), "--play session.play " + options + " " +
                                           quoted(g.dir()));
}

TEST(PlaySessionTest, TranscriptShowsCommandsAndReadableTalk) {
  HostGhost g;
  HostResult run = play(g,
                        "# a short session\n"
                        "こんにちは\n"
                        "\n"
                        ":tick 4\n"
                        ":touch head 4\n"
                        ":event OnEcho a \"b c\"\n"
                        ":word %reflex[__TalkInterval]\n"
                        ":string sakura.recommendsites\n"
                        ":event OnNothing\n"
                        ":sender Alice\r\n"
                        "元気？\n"
                        ":quit\n"
                        "this line is never run\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "(boot)\n"
            "エミリ: [surface 5]こんにちは。\n"
            "        今日は\n"
            "Partner: [surface 10]……ふん。\n"
            "> こんにちは\n"
            "エミリ: 「こんにちは」とUserさんが言った。\n"
            "> :tick 4\n"
            "(second 3)\n"
            "エミリ: ひまだなあ。\n"
            "> :touch head 4\n"
            "(move 4)\n"
            "エミリ: headはだめ（3回目）\n"
            "> :event OnEcho a \"b c\"\n"
            "エミリ: echo=a/b c\n"
            "> :word %reflex[__TalkInterval]\n"
            "= 3\n"
            "> :string sakura.recommendsites\n"
            "= id=sakura.recommendsites\n"
            "> :event OnNothing\n"
            "(no talk)\n"
            "> :sender Alice\n"
            "(plain lines now come from Alice)\n"
            "> 元気？\n"
            "エミリ: 「元気？」とAliceさんが言った。\n"
            "> :quit\n"
            "(close)\n"
            "エミリ: またね。\n");
}

TEST(PlaySessionTest, ASessionInShiori3ReadsAsInTwoAndCarriesWhatShiftJisCannot) {
  const std::string script =
      "こんにちは\n:tick 4\n:touch head 4\n:event OnEcho a \"b c\"\n"
      ":word %reflex[__TalkInterval]\n:string sakura.recommendsites\n:sender Alice\n元気？\n";
  HostGhost two, three;
  HostResult run2 = play(two, script);
  HostResult run3 = play(three, script, "--protocol 3.0");
  EXPECT_EQ(run3.status, 0) << run3.err;
  EXPECT_EQ(run3.out, run2.out);

  // A heard emoji travels in UTF-8 and comes back; a problem the module reports is shown once
  // (one the load found, as the host asks after the load).
  HostGhost g;
  std::string config = g.ghost.read("zelkaconf.xml");
  config.insert(config.find("</ZelkaConfiguration>"), "<Protocol version=\"9\"/>\n");
  g.ghost.write("zelkaconf.xml", config);
  HostResult run = play(g, "\xF0\x9F\x98\x80だよ\n", "--protocol 3.0 --no-boot");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("「\xF0\x9F\x98\x80だよ」とUserさんが言った。"), std::string::npos)
      << run.out;
  const std::string warning = "! warning: zelkaconf.xml: Protocol version=\"9\" is not known";
  EXPECT_NE(run.out.find(warning), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find(warning), run.out.rfind(warning));
}

TEST(PlaySessionTest, SecondsCountOnAcrossTicksAndNamesCanBeSet) {
  HostGhost g;
  // Free talk every third second: seconds 3 and 6 of seven.
  HostResult run = play(g, ":tick 2\n:tick 5\n:touch arm 2\n", "--no-boot --names Emily,Kero");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "> :tick 2\n"
            "(2 seconds passed without talk)\n"
            "> :tick 5\n"
            "(second 3)\n"
            "Emily: ひまだなあ。\n"
            "(second 6)\n"
            "Emily: ひまだなあ。\n"
            "> :touch arm 2\n"
            "(2 moves over arm without talk)\n");
}

TEST(PlaySessionTest, RawOptionPrintsResponsesExactlyAsReceived) {
  HostGhost g;
  HostResult run = play(g, ":word %reflex[__TalkInterval]\n:event OnEcho " + std::string("x") +
                               "\n:event OnNothing\n", "--raw --no-boot");
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string sender = testing::sjis("エミリ");
  EXPECT_EQ(run.out,
            // The owner ghost name the host announces at the start.
            "SHIORI/2.6 200 OK\r\nCharset: Shift_JIS\r\n\r\n"
            "> :word %reflex[__TalkInterval]\n"
            "SHIORI/2.6 200 OK\r\nWord: 3\r\nCharset: Shift_JIS\r\n\r\n"
            "> :event OnEcho x\n"
            "SHIORI/2.6 200 OK\r\nSender: " + sender +
                "\r\nSentence: echo=x/\r\nCharset: Shift_JIS\r\n\r\n"
                "> :event OnNothing\n"
                "SHIORI/2.6 204 No Content\r\nCharset: Shift_JIS\r\n\r\n");
}

TEST(PlaySessionTest, RawRequestIsSentAsWrittenAndItsResponseShown) {
  HostGhost g;
  HostResult run = play(g,
                        ":raw\n"
                        "GET Word SHIORI/2.0\n"
                        "Type: %reflex[__TalkInterval]\n"
                        "\n"
                        ":raw\n"
                        "GET Version SHIORI/9.9\n"
                        "\n",
                        "--no-boot");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "> :raw\n"
            "| GET Word SHIORI/2.0\n"
            "| Type: %reflex[__TalkInterval]\n"
            "< SHIORI/2.6 200 OK\n"
            "< Word: 3\n"
            "< Charset: Shift_JIS\n"
            "> :raw\n"
            "| GET Version SHIORI/9.9\n"
            "< SHIORI/2.6 501 Not Implemented\n"
            "< Charset: Shift_JIS\n");
}

TEST(PlaySessionTest, BadLinesAreReportedWithTheirLineNumbersAndTheRestStillRuns) {
  HostGhost g;
  const std::string script =
      ":bogus\n"                       // 1: unknown command
      "caf\xC3\n"                      // 2: invalid UTF-8 (a cut sequence)
      "smile \xF0\x9F\x98\x80\n"       // 3: a character without a Shift_JIS form
      ":tick 0\n"                      // 4: a count out of range
      ":touch\n"                       // 5: no part
      ":event OnEcho \"open\n"         // 6: quote left open
      ":event OnEcho 1 2 3 4 5 6 7 8 9\n"  // 7: more than eight references
      ":word\n"                        // 8: no script
      ":help me\n"                     // 9: arguments where none are taken
      ":event OnEcho ok\n";            // 10: runs
  HostResult run = play(g, script, "--no-boot");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("> caf<0xC3>\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("> :event OnEcho ok\nエミリ: echo=ok/\n"), std::string::npos) << run.out;
  const std::string expectedErrors[] = {
      "session.play:1: unknown command :bogus (:help lists the commands)\n",
      "session.play:2: the sentence: the text is not valid UTF-8 (byte 0xC3 at column 4); "
      "nothing was sent\n",
      "session.play:3: the sentence: the character \xF0\x9F\x98\x80 (U+1F600) has no Shift_JIS "
      "form; nothing was sent\n",
      "session.play:4: the count must be a number from 1 to 1000000, not '0'\n",
      "session.play:5: :touch needs a part name and an optional count\n",
      "session.play:6: :event: a double quote is not closed\n",
      "session.play:7: :event takes at most 8 references\n",
      "session.play:8: :word needs a script\n",
      "session.play:9: :help takes no arguments\n",
      "zelka-host: 9 lines of session.play failed\n",
  };
  std::string all;
  for (const std::string& line : expectedErrors) all += line;
  EXPECT_EQ(run.err, all);
}

TEST(PlaySessionTest, EndOfInputInsideRawIsReportedAndNothingIsSent) {
  HostGhost g;
  HostResult run = play(g, ":event OnEcho before\n:raw\nGET Word SHIORI/2.0\nType: x",
                        "--no-boot");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "> :event OnEcho before\n"
            "エミリ: echo=before/\n"
            "> :raw\n"
            "| GET Word SHIORI/2.0\n"
            "| Type: x\n");
  EXPECT_EQ(run.err,
            "session.play:4: the input ended inside the :raw request begun at line 2; it was "
            "not sent\n"
            "zelka-host: 1 line of session.play failed\n");
}

TEST(PlaySessionTest, QuitUnloadsSoWhatWasLearnedIsSavedAndCounted) {
  HostGhost g;
  HostResult run = play(g, "こんにちは、いい天気ですね\n:quit\n", "--no-boot --stats");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(g.ghost.exists("_learning/reflex.txt"));
  EXPECT_NE(g.ghost.read("_learning/bind.xml").find("distance="), std::string::npos);
  // Before the load there was nothing; the load created the stores empty (the root only)
  // and the heard sentence left Bind nodes behind.
  const std::size_t table = run.out.find("learned stores (" + g.dir() + "_learning/):\n");
  ASSERT_NE(table, std::string::npos) << run.out;
  EXPECT_NE(run.out.find("                 before load  after load  after unload\n"
                         "  Bind nodes               0           0",
                         table),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("  Bind nodes               0           0             0\n", table),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("  variables                0           0            ", table),
            std::string::npos)
      << run.out;
}

TEST(InteractiveSessionTest, InvalidUtf8IsRefusedWithAMessageAndTheSessionGoesOn) {
  HostGhost g;
  HostResult run = runHostProcess(g.work.path(), "--interactive --no-boot " + quoted(g.dir()),
                                  "\xFF\xFE bad\n:event OnEcho fine\n:help\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err,
            "zelka-host: the sentence: the text is not valid UTF-8 (byte 0xFF at column 1); "
            "nothing was sent\n");
  EXPECT_NE(run.out.find("> エミリ: echo=fine/\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(":touch PART [N]"), std::string::npos);
  // The end of the input closes the session like :quit.
  EXPECT_TRUE(g.ghost.exists("_learning/reflex.txt"));
}

TEST(InteractiveSessionTest, EndOfInputInsideRawIsReported) {
  HostGhost g;
  HostResult run = runHostProcess(g.work.path(), "-i --no-boot " + quoted(g.dir()),
                                  ":raw\nGET Version SHIORI/2.0\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err,
            "zelka-host: the input ended inside the :raw request begun at line 1; it was not "
            "sent\n");
}

}  // namespace
}  // namespace zelka

namespace zelka {
namespace {

// The choices of the last talk are listed after it; :choose raises OnChoiceSelect with the
// chosen one's ID (Shift_JIS as the talk wrote it) and refuses a number the talk did not offer.
TEST(PlaySessionTest, ChooseSendsTheIdOfTheLastTalksChoice) {
  HostGhost g;
  g.ghost.write("vender/menu.tlk",
                testing::sjis("[ZELKA KNOWLEDGE 2.0]\n"
                              "{\ntoken: OnMenu\nscript: どれ？\\n\\q[はい,yes]\\q[表\\],x,表/y]\\_q\n}\n"
                              "{\ntoken: OnChoiceSelect\nscript: 選んだ=%ref0\n}\n"));
  HostResult run = play(g, ":choose 1\n:event OnMenu\n:choose 3\n:choose 2\n:choose 1\n",
                        "--no-boot");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "> :choose 1\n"
            "> :event OnMenu\n"
            "エミリ: どれ？\n"
            "        [はい][表]]\\_q\n"
            "(:choose 1 はい, 2 表])\n"
            "> :choose 3\n"
            "> :choose 2\n"
            "エミリ: 選んだ=x,表/y\n"
            "> :choose 1\n");
  EXPECT_EQ(run.err,
            "session.play:1: :choose: the last talk offered no choice\n"
            "session.play:3: :choose: the last talk offered 2 choices\n"
            "session.play:5: :choose: the last talk offered no choice\n"
            "zelka-host: 3 lines of session.play failed\n");
}

}  // namespace
}  // namespace zelka
