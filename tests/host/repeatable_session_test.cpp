// Sessions that repeat: --seed fixes the ghost's random choices and the moment its answers
// come, whatever the machine's speed; and input that is not for pipe mode is refused plainly.
#include <gtest/gtest.h>

#include "host/host_ghost.h"
#include "host/host_process.h"

namespace zelka {
namespace {

using testing::HostGhost;
using testing::HostResult;
using testing::quoted;
using testing::runHostProcess;

constexpr const char* kPlay =
    "こんにちは\n"
    ":word %rand[1000000]-%rand[1000000]\n"
    ":tick 2\n"
    ":wait\n"
    "元気？\n";

// Plays kPlay on a fresh copy of the ghost.
HostResult playFresh(const std::string& options) {
  HostGhost g;
  g.work.write("session.play", kPlay);
  return runHostProcess(g.work.path(), "--play session.play --no-boot " + options + " " +
                                           quoted(g.dir()));
}

TEST(RepeatableSessionTest, SameSeedSameTranscriptWithAnswersAtOnceOrLate) {
  struct Row {
    const char* options;
    const char* firstAnswer;   // what follows the first sentence
    const char* secondOne;     // what the first second brings
    const char* lastAnswer;    // what follows the last sentence, and the end
  };
  const Row rows[] = {
      {"--seed 11",
       "エミリ: 「こんにちは」とUserさんが言った。\n",
       "(2 seconds passed without talk)\n",
       "> :wait\n(the ghost is not thinking)\n"
       "> 元気？\nエミリ: 「元気？」とUserさんが言った。\n"},
      // Every answer is left to the next second; the transcript says which ones came late.
      // (A late answer runs under the timer event: the sentence and sender are the host's.)
      {"--seed 11 --first-think-wait later",
       "(no answer at once; the ghost finished thinking late, :tick brings its answer)\n",
       "(second 1: the answer to “こんにちは”, thought over late)\n"
       "エミリ: 「」とSSPさんが言った。\n",
       "> :wait\n(the ghost is not thinking)\n"
       "> 元気？\n"
       "(no answer at once; the ghost finished thinking late, :tick brings its answer)\n"
       "(the ghost finished thinking about “元気？” after the last line; that answer was not "
       "collected)\n"},
  };
  for (const Row& row : rows) {
    const HostResult first = playFresh(row.options);
    const HostResult again = playFresh(row.options);
    ASSERT_EQ(first.status, 0) << row.options << "\n" << first.err;
    EXPECT_EQ(again.out, first.out) << row.options;
    const std::size_t word = first.out.find("= ");
    ASSERT_NE(word, std::string::npos) << first.out;
    const std::string drawn = first.out.substr(word, first.out.find('\n', word) - word + 1);
    EXPECT_EQ(first.out, std::string("> こんにちは\n") + row.firstAnswer +
                             "> :word %rand[1000000]-%rand[1000000]\n" + drawn + "> :tick 2\n" +
                             row.secondOne + row.lastAnswer)
        << row.options;
  }
  // Another seed draws other numbers.
  EXPECT_NE(playFresh("--seed 12").out, playFresh("--seed 11").out);
}

TEST(RepeatableSessionTest, BadSeedOrWaitIsRefusedBeforeLoading) {
  for (const char* options : {"--seed -1", "--seed 4294967296", "--seed 7x",
                              "--first-think-wait soon", "--first-think-wait 60001"}) {
    const HostResult run = playFresh(options);
    EXPECT_EQ(run.status, 2) << options;
    EXPECT_EQ(run.out, "") << options;
    EXPECT_NE(run.err.find(std::string(options).substr(0, std::string(options).find(' '))),
              std::string::npos)
        << run.err;
  }
}

// Session lines piped in without --pipe get a message that names the options, and no
// response; a protocol request piped in is still served (pipe mode stays the default for it).
TEST(RepeatableSessionTest, PipedSessionLinesWithoutPipeGetAMessage) {
  HostGhost g;
  for (const char* input : {"こんにちは\n", "\n:tick 3\n"}) {
    const HostResult run = runHostProcess(g.work.path(), quoted(g.dir()), input);
    EXPECT_EQ(run.status, 2) << input;
    EXPECT_EQ(run.out, "") << input;
    EXPECT_NE(run.err.find("--play -"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--pipe"), std::string::npos) << run.err;
  }
  const HostResult served =
      runHostProcess(g.work.path(), quoted(g.dir()), "\r\nGET Word SHIORI/2.0\r\nType: ok\r\n\r\n");
  EXPECT_EQ(served.status, 0) << served.err;
  EXPECT_EQ(served.out, "SHIORI/2.6 200 OK\r\nWord: ok\r\nCharset: Shift_JIS\r\n\r\n");
}

}  // namespace
}  // namespace zelka
