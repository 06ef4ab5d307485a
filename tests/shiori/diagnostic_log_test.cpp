#include "shiori/diagnostic_log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "support/ghost_fixture.h"
#include "support/host_block.h"
#include "shiori/shiori_server.h"

namespace zelka {
namespace {

using testing::ConfigOptions;
using testing::CurrentDirectory;
using testing::TempGhost;
using testing::makeConfig;

const char* const kStamp =
    R"(\[(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) )"
    R"([ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}\])";

std::string withStamps(const std::string& body) {
  // Replaces "@" in the expected text by the time stamp pattern; the rest is literal.
  std::string pattern;
  for (char c : body) {
    if (c == '@') {
      pattern += kStamp;
    } else if (std::strchr(R"(\^$.|?*+()[]{})", c) != nullptr) {
      pattern += '\\';
      pattern += c;
    } else if (c == '\r') {
      pattern += "\\r";
    } else if (c == '\n') {
      pattern += "\\n";
    } else {
      pattern += c;
    }
  }
  return pattern;
}

bool matchesLog(const std::string& content, const std::string& expected) {
  return std::regex_match(content, std::regex(withStamps(expected)));
}

class DiagnosticLogTest : public ::testing::Test {
 protected:
  TempGhost dir{""};
  CurrentDirectory cwd{dir.dir()};
};

TEST_F(DiagnosticLogTest, EntriesUseCrLfAndStamps) {
  {
    DiagnosticLog log;
    EXPECT_FALSE(log.isOpen());
    ASSERT_EQ(log.open(dir.path("named.log")), 0);
    log.write("GET Version SHIORI/2.0\r\n\r\n");
    log.newline();
    log.timeStamp();
    log.write(std::string_view("cut\0here", 8));
    log.writeWide(u"\u3042a\U0001F600b");
  }
  std::string content = dir.read("named.log");
  EXPECT_TRUE(matchesLog(content,
                         "@debug_start\r\n"
                         "GET Version SHIORI/2.0\r\r\n\r\r\n\r\n"
                         "@cut\x82\xa0" "a@debug_end  \r\n"))
      << content;
}

TEST_F(DiagnosticLogTest, TimeStampIsTwentySixCharacters) {
  {
    DiagnosticLog log;
    log.open(dir.path("stamp.log"));
  }
  std::string content = dir.read("stamp.log");
  std::size_t end = content.find("debug_start");
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(end, 26u);
}

TEST_F(DiagnosticLogTest, FirstWriteOpensTheDefaultFileAndOpeningTruncates) {
  dir.write("zelka.log", "old content that must go");
  {
    DiagnosticLog log;
    log.write("first");
    EXPECT_TRUE(log.isOpen());
  }
  EXPECT_TRUE(matchesLog(dir.read("zelka.log"), "@debug_start\r\nfirst@debug_end  \r\n"));
}

TEST_F(DiagnosticLogTest, FailedOpenWritesNothingAndLaterWritesRetry) {
  DiagnosticLog log;
  EXPECT_EQ(log.open(dir.path("missing/dir/x.log")), -1);
  EXPECT_FALSE(log.isOpen());
  std::filesystem::create_directories(dir.path("ro"));
  {
    CurrentDirectory inside(dir.path("ro"));
    std::filesystem::permissions(dir.path("ro"), std::filesystem::perms::owner_read |
                                                     std::filesystem::perms::owner_exec);
    log.write("lost");   // cannot create zelka.log here (unless running as root)
    bool created = std::filesystem::exists(dir.path("ro/zelka.log"));
    std::filesystem::permissions(dir.path("ro"), std::filesystem::perms::owner_all);
    if (!created) {
      EXPECT_FALSE(log.isOpen());
      log.write("kept");
      EXPECT_TRUE(log.isOpen());
      log.close();
      EXPECT_TRUE(matchesLog(dir.read("ro/zelka.log"), "@debug_start\r\nkept@debug_end  \r\n"));
    }
  }
}

TEST_F(DiagnosticLogTest, OneRequestWritesAtMostItsAllowance) {
  {
    DiagnosticLog log;
    ASSERT_EQ(log.open(dir.path("cut.log")), 0);
    log.setRequestAllowance(20);
    log.beginRequest();
    log.write("0123456789");
    log.write("abc\n");        // stored as 5 bytes: 15 of 20 used
    log.write("0123456789");   // does not fit: cut, with one line saying so
    log.writeWide(u"x");
    log.newline();
    log.writeEntry("a problem\n");   // written whatever is left, and without using it
    log.beginRequest();
    log.write("next");
  }
  EXPECT_TRUE(matchesLog(dir.read("cut.log"),
                         "@debug_start\r\n0123456789abc\r\n"
                         "\r\n[the rest of this request's log entries were cut: over 20 bytes]\r\n"
                         "a problem\r\nnext@debug_end  \r\n"))
      << dir.read("cut.log");
}

TEST_F(DiagnosticLogTest, CloseWithoutOpenWritesNothing) {
  {
    DiagnosticLog log;
    log.close();
  }
  EXPECT_FALSE(dir.exists("zelka.log"));
}

using testing::mallocCopy;

// Runs a whole session of the server in the ghost directory as the current directory and
// answers the log's content ("(none)" when no log was created).
std::string sessionLog(int runlevel, std::string& learningPath) {
  ConfigOptions o;
  o.runlevel = runlevel;
  TempGhost ghost(makeConfig(o));
  CurrentDirectory cwd(ghost.dir());
  {
    ShioriServer server;
    EXPECT_EQ(server.exportLoad(mallocCopy(ghost.dir()), static_cast<long>(ghost.dir().size())), 1);
    learningPath = server.learningPath();
    std::string text = "GET Status SHIORI/2.0\r\n\r\n";
    long len = static_cast<long>(text.size());
    std::free(server.exportRequest(mallocCopy(text), &len));
    server.exportUnload();
  }
  return ghost.exists("zelka.log") ? ghost.read("zelka.log") : "(none)";
}

TEST(ServerLogTest, RunLevelZeroCreatesNoLog) {
  std::string learning;
  EXPECT_EQ(sessionLog(0, learning), "(none)");
}

TEST(ServerLogTest, NonZeroRunLevelLogsRequestResponseAndSave) {
  for (int level : {1, 2, 5, -1}) {
    std::string learning;
    std::string content = sessionLog(level, learning);
    EXPECT_TRUE(matchesLog(content,
                           "@debug_start\r\n"
                           "request--------------------------------------------@\r\n"
                           "GET Status SHIORI/2.0\r\r\n\r\r\n\r\n"
                           "response-------------------------------------------@\r\n"
                           "SHIORI/2.6 200 OK\r\r\nStatus: 0,0,0,0,0,0\r\r\n"
                           "Charset: Shift_JIS\r\r\n\r\r\n\r\n"
                           "@\r\nsave: " + learning + "reflex.txt\r\n"
                           "@debug_end  \r\n"))
        << level << "\n" << content;
  }
}

// A talk that recurses through its tokens until its budget ends writes a few diagnostic lines
// per element at run level 4: each request's share is cut at the allowance, the answer
// still comes, and the next request is logged in full.
TEST(ServerLogTest, RunawayTalkIsLoggedUpToTheRequestAllowance) {
  ConfigOptions o;
  o.runlevel = 4;
  TempGhost ghost(makeConfig(o));
  ghost.write("vender/talk.tlk",
              testing::knowledgeFile(testing::knowledgeBlock("OnRun", "%token[Fork]") +
                                     testing::knowledgeBlock("Fork", "%token[Fork]%token[Fork]")));
  CurrentDirectory cwd(ghost.dir());
  auto send = [](ShioriServer& server, std::string_view text) {
    long len = static_cast<long>(text.size());
    void* response = server.exportRequest(mallocCopy(text), &len);
    std::string out(static_cast<const char*>(response), static_cast<std::size_t>(len));
    std::free(response);
    return out;
  };
  {
    ShioriServer server;
    ASSERT_EQ(server.exportLoad(mallocCopy(ghost.dir()), static_cast<long>(ghost.dir().size())), 1);
    for (int i = 0; i < 2; ++i) {
      const std::string response = send(server, "GET Sentence SHIORI/2.2\r\nEvent: OnRun\r\n\r\n");
      EXPECT_TRUE(response.starts_with("SHIORI/2.6 200 OK\r\nSender: Zelka\r\nSentence: "))
          << response.substr(0, 80);
    }
    send(server, "GET Status SHIORI/2.0\r\n\r\n");
    server.exportUnload();
  }
  const std::string content = ghost.read("zelka.log");
  const std::string cut = "[the rest of this request's log entries were cut: over 262144 bytes]";
  std::vector<std::size_t> requests;
  for (std::size_t at = content.find("request---"); at != std::string::npos;
       at = content.find("request---", at + 1)) {
    requests.push_back(at);
  }
  ASSERT_EQ(requests.size(), 3u);
  // The script error is logged once, in the first request, beside its share and not in it.
  const std::string problem =
      "] error: vender/talk.tlk:8: script error in Fork: \"%token[Fork]\" was not expanded: the "
      "script nests too deeply or does too much work (a variable or token that refers to "
      "itself?)\r\n";
  const std::size_t told = content.find(problem);
  ASSERT_GT(told, requests[0]);
  EXPECT_LT(told, requests[1]);
  EXPECT_EQ(content.find(problem, told + 1), std::string::npos);
  const std::size_t entry = 25 + problem.size();   // after the "[" + asctime stamp
  for (std::size_t i = 0; i < 2; ++i) {
    const std::string share = content.substr(requests[i], requests[i + 1] - requests[i]);
    EXPECT_LE(share.size(),
              DiagnosticLog::kDefaultRequestAllowance + cut.size() + 4 + (i == 0 ? entry : 0));
    EXPECT_TRUE(share.ends_with(cut + "\r\n")) << i;
  }
  EXPECT_NE(content.find("response---", requests[2]), std::string::npos);
  EXPECT_NE(content.find("save: ", requests[2]), std::string::npos);
}

TEST(ServerLogTest, ProblemsAreLoggedWhateverTheRunLevel) {
  TempGhost ghost(makeConfig(ConfigOptions{}));
  CurrentDirectory cwd(ghost.dir());
  {
    ShioriServer server;
    ASSERT_EQ(server.exportLoad(mallocCopy(ghost.dir()), static_cast<long>(ghost.dir().size())), 1);
    server.problems().report({Problem::Severity::Error, "vendor/talk.tlk:3", "it went wrong"});
    server.problems().report({Problem::Severity::Warning, "", "odd"});
    server.exportUnload();
  }
  EXPECT_TRUE(matchesLog(ghost.read("zelka.log"),
                         "@debug_start\r\n"
                         "@ error: vendor/talk.tlk:3: it went wrong\r\n"
                         "@ warning: odd\r\n"
                         "@debug_end  \r\n"))
      << ghost.read("zelka.log");
}

}  // namespace
}  // namespace zelka
