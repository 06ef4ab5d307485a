// Pipe mode: raw requests in, the module's responses out, byte for byte, with Shift_JIS
// passing through untouched in both directions.
#include <gtest/gtest.h>

#include "host/host_ghost.h"
#include "host/host_process.h"

namespace zelka {
namespace {

using testing::HostGhost;
using testing::HostResult;
using testing::quoted;
using testing::runHostProcess;
using testing::sjis;

TEST(PipeModeTest, ResponsesAreWrittenByteForByte) {
  HostGhost g;
  const std::string input =
      "NOTIFY OwnerGhostName SHIORI/2.3\r\nGhost: " + sjis("エミリ") + "\r\n\r\n" +
      "GET Sentence SHIORI/2.2\r\nSender: SSP\r\nEvent: OnEcho\r\nReference0: " + sjis("表") +
      "\r\nReference1: 2\r\n\r\n"
      // LF line ends are sent as CR LF.
      "GET Word SHIORI/2.0\nType: %reflex[__TalkInterval]\n\n"
      "GET String SHIORI/2.5\r\nID: x\r\n\r\n"
      "GET Sentence SHIORI/2.2\r\nSender: Alice\r\nAge: 4\r\nEvent: OnEcho\r\n\r\n"
      "TEST SHIORI/2.3\r\n\r\n";
  HostResult run = runHostProcess(g.work.path(), "--pipe " + quoted(g.dir()), input);
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string emily = sjis("エミリ");
  EXPECT_EQ(run.out,
            "SHIORI/2.6 200 OK\r\nCharset: Shift_JIS\r\n\r\n"
            // 表 ends in the byte 0x5C, which must reach the script unchanged.
            "SHIORI/2.6 200 OK\r\nSender: " + emily + "\r\nSentence: echo=" + sjis("表") +
                "/2\r\nCharset: Shift_JIS\r\n\r\n"
                "SHIORI/2.6 200 OK\r\nWord: 3\r\nCharset: Shift_JIS\r\n\r\n"
                "SHIORI/2.6 200 OK\r\nString: id=x\r\nCharset: Shift_JIS\r\n\r\n"
                "SHIORI/2.6 200 OK\r\nSender: " + emily +
                "\r\nTo: Alice\r\nAge: 5\r\nSentence: echo=/\r\nCharset: Shift_JIS\r\n\r\n"
                "SHIORI/2.6 501 Not Implemented\r\nCharset: Shift_JIS\r\n\r\n");
}

}  // namespace
}  // namespace zelka
