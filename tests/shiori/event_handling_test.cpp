#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/text_codec.h"
#include "shiori/session_tuning.h"
#include "support/ghost_fixture.h"
#include "support/host_block.h"
#include "shiori/shiori_server.h"

namespace zelka {
namespace {

using testing::CurrentDirectory;
using testing::TempGhost;
using testing::knowledgeBlock;
using testing::knowledgeFile;

struct GhostSettings {
  int runlevel = 0;
  std::string talkInterval = "0";
  std::string listenWait = "16";
  std::string thinkWait = "5";
  std::string sections;   // further elements under ZelkaConfiguration
};

std::string configFor(const GhostSettings& s) {
  return "<?xml version='1.0' encoding='Shift_JIS'?>\r\n"
         "<ZelkaConfiguration>\r\n"
         "  <GhostProfile locale=\"Japanese\" birthday=\"2001/05/03\" talk_interval=\"" +
         s.talkInterval + "\" listen_wait=\"" + s.listenWait + "\" think_wait=\"" + s.thinkWait +
         "\"/>\r\n"
         "  <RunEnvironment runlevel=\"" + std::to_string(s.runlevel) + "\">\r\n"
         "    <Directory type=\"vender\" name=\"vender/\"/>\r\n"
         "    <Directory type=\"learning\" name=\"_learning/\"/>\r\n"
         "  </RunEnvironment>\r\n" + s.sections + "</ZelkaConfiguration>\r\n";
}

// Scripts that show what the handler did: the event that ran and its references.
const std::string kScripts =
    knowledgeBlock("OnZelkaFreeTalk", "free=%ref0.") +
    knowledgeBlock("OnZelkaListenTimeout", "timeout=%ref0.") +
    knowledgeBlock("OnZelkaBodyTouch", "touch=%ref2,%ref3.") +
    knowledgeBlock("OnZelkaCommunicate", "heard=%reflex[__Think_accept].") +
    knowledgeBlock("OnZelkaCommunicateTimeout", "late=%reflex[__Think_state].") +
    knowledgeBlock("OnMinuteChange", "minute=%exh.") +
    knowledgeBlock("OnTest", "test=%ref0[1]/%ref1/%ref0[9].") +
    knowledgeBlock("OnScope", "\\0[5]\\0[6]") +
    knowledgeBlock("MyFree", "renamed free") +
    knowledgeBlock("OnRenamed", "renamed=%ref0[1].");

using testing::mallocCopy;

class EventHandlingTest : public ::testing::Test {
 protected:
  void start(const GhostSettings& settings = {}, const std::string& scripts = kScripts) {
    server.reset();
    cwd.reset();
    ghost = std::make_unique<TempGhost>(configFor(settings));
    ghost->write("vender/test.tlk", knowledgeFile(scripts));
    cwd = std::make_unique<CurrentDirectory>(ghost->dir());
    server = std::make_unique<ShioriServer>();
    ASSERT_EQ(server->exportLoad(mallocCopy(ghost->dir()), static_cast<long>(ghost->dir().size())),
              1);
  }
  void TearDown() override {
    if (server) server->exportUnload();
    server.reset();
    cwd.reset();
    ghost.reset();
  }
  // Unloads and destroys the server, so that its log is complete; answers the log.
  std::string finishAndReadLog() {
    server->exportUnload();
    server.reset();
    return ghost->read("zelka.log");
  }

  std::string send(std::string_view text) {
    long len = static_cast<long>(text.size());
    void* response = server->exportRequest(mallocCopy(text), &len);
    if (response == nullptr) return "(null)";
    std::string out(static_cast<const char*>(response), static_cast<std::size_t>(len));
    std::free(response);
    return out;
  }
  std::string event(std::string_view name, std::string_view headers = {}) {
    return send("GET Sentence SHIORI/2.2\r\nEvent: " + std::string(name) + "\r\n" +
                std::string(headers) + "\r\n");
  }
  std::string second(std::string_view headers = {}) { return event("OnSecondChange", headers); }
  std::string sentence(std::string_view text, std::string_view headers = "Sender: Alice\r\n") {
    return send("GET Sentence SHIORI/2.2\r\n" + std::string(headers) + "Sentence: " +
                std::string(text) + "\r\n\r\n");
  }
  // The talk of a 200 answer, or the status text of any other.
  static std::string talkOf(const std::string& response) {
    const std::size_t at = response.find("\r\nSentence: ");
    if (at == std::string::npos) return response.substr(11, response.find("\r\n") - 11);
    const std::size_t from = at + 12;
    return response.substr(from, response.find("\r\n", from) - from);
  }
  // A variable as scripts see it: one enclosing pair of quotes removed.
  std::string value(std::string_view name) {
    std::string v;
    if (!server->variables().getVariable(name, v)) return "(missing)";
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    return v;
  }

  std::unique_ptr<TempGhost> ghost;
  std::unique_ptr<CurrentDirectory> cwd;
  std::unique_ptr<ShioriServer> server;
};

constexpr const char* kNoContent = "SHIORI/2.6 204 No Content\r\nCharset: Shift_JIS\r\n\r\n";

TEST_F(EventHandlingTest, CommonStartPublishesTheHeaders) {
  start();
  event("OnNothing",
        "Sender: Alice\r\nAge: 2\r\nSurface: 0,10\r\nSecurityLevel: local\r\nSentence: hi\r\n");
  EXPECT_EQ(value("__To"), "Alice");
  EXPECT_EQ(value("__Sender"), "Alice");
  EXPECT_EQ(value("__Age"), "2");
  EXPECT_EQ(value("__SurfaceWho0"), "0");
  EXPECT_EQ(value("__SurfaceWho1"), "10");
  EXPECT_EQ(value("__Security_level"), "local");
  EXPECT_EQ(value("__Sentence"), "");   // an event is never a heard sentence

  event("OnNothing", "Surface: 7\r\n");
  EXPECT_EQ(value("__To"), "");
  EXPECT_EQ(value("__Sender"), "Nobody");
  EXPECT_EQ(value("__Age"), "-1");
  EXPECT_EQ(value("__Security_level"), "");
  EXPECT_EQ(value("__SurfaceWho0"), "7");
  EXPECT_EQ(value("__SurfaceWho1"), "10");   // only a second field replaces it
}

TEST_F(EventHandlingTest, AnswerAddressesTheSenderWithTheNextAge) {
  start();
  send("NOTIFY OwnerGhostName SHIORI/2.3\r\nGhost: Emily\r\n\r\n");
  struct Row {
    const char* headers;
    const char* addressLines;
  };
  const Row rows[] = {
      {"Sender: User\r\nAge: 2\r\n", ""},
      {"Sender: Alice\r\nAge: 2\r\n", "To: Alice\r\nAge: 3\r\n"},
      {"Sender: Alice\r\n", "To: Alice\r\nAge: 0\r\n"},
      {"Sender: Bob\r\nAge: 99\r\n", "To: Bob\r\nAge: 100\r\n"},
      {"", ""},
      {"Sender: Nobody\r\n", ""},
      {"Sender: nobody\r\n", ""},
      {"Sender: SSP\r\n", ""},
      {"Sender: user\r\nAge: 5\r\n", "To: user\r\nAge: 6\r\n"},
  };
  for (const Row& row : rows) {
    for (const char* command : {"GET Sentence SHIORI/2.2", "TEST SHIORI/2.0"}) {
      EXPECT_EQ(send(std::string(command) + "\r\n" + row.headers + "\r\n"),
                std::string("SHIORI/2.6 200 OK\r\nSender: Emily\r\n") + row.addressLines +
                    "Sentence: free=.\r\nCharset: Shift_JIS\r\n\r\n")
          << command << " / " << row.headers;
    }
  }
}

TEST_F(EventHandlingTest, EmptyAgeFromAScriptStartsTheCountAfresh) {
  start({}, knowledgeBlock("OnZelkaFreeTalk", "\\formula[__Age = \"\"]free"));
  EXPECT_NE(send("GET Sentence SHIORI/2.2\r\nSender: Alice\r\nAge: 7\r\n\r\n")
                .find("\r\nTo: Alice\r\nAge: 0\r\n"),
            std::string::npos);
}

TEST_F(EventHandlingTest, EmptySentenceHeaderIsARequestForTalk) {
  start();
  EXPECT_EQ(talkOf(send("GET Sentence SHIORI/2.2\r\nSentence: \r\n\r\n")), "free=.");
  EXPECT_EQ(talkOf(send("GET Sentence SHIORI/2.2\r\nEvent: \r\nSentence: \r\n\r\n")), "free=.");
}

TEST_F(EventHandlingTest, EventWithoutScriptAnswersNoContent) {
  start();
  EXPECT_EQ(event("OnClose"), kNoContent);
  EXPECT_EQ(event("OnSecondChange", "Reference0: 1\r\n"), kNoContent);
}

TEST_F(EventHandlingTest, FreeTalkComesEveryIntervalWithPresence) {
  GhostSettings settings;
  settings.talkInterval = "3";
  start(settings);
  std::vector<std::string> talks;
  for (int i = 0; i < 6; ++i) talks.push_back(talkOf(second("Reference0: 9\r\n")));
  EXPECT_EQ(talks, (std::vector<std::string>{"204 No Content", "204 No Content", "free=0.",
                                             "204 No Content", "204 No Content", "free=0."}));
  EXPECT_EQ(server->eventCounters().secondCounter, 0u);

  send("NOTIFY OtherGhostName SHIORI/2.3\r\nGhost: me\r\nGhostEx: Other\r\n\r\n");
  second();
  second();
  EXPECT_EQ(talkOf(second()), "free=1.");
}

TEST_F(EventHandlingTest, TalkIntervalIsReadAsStoredThenAsStrtol) {
  struct Row {
    const char* interval;
    int firstFreeTalk;   // 0: none within the seconds sent
  };
  const Row rows[] = {
      {"0", 0},   {"abc", 0},  {"-5", 0},   {"4294967295", 0}, {"3abc", 0},
      {"+3", 3},  {"2.9", 2},  {"\"4\"", 0}, {"1", 1},
  };
  for (const Row& row : rows) {
    start();
    server->variables().setVariable("__TalkInterval", row.interval);
    int first = 0;
    for (int i = 1; i <= 12 && first == 0; ++i) {
      if (talkOf(second()) == "free=0.") first = i;
    }
    EXPECT_EQ(first, row.firstFreeTalk) << row.interval;
    if (row.firstFreeTalk == 0) {
      EXPECT_EQ(server->eventCounters().secondCounter, 12u) << row.interval;
    }
  }
}

TEST_F(EventHandlingTest, ListenTimesOutOnceWithItsIdentifier) {
  GhostSettings settings;
  settings.listenWait = "3";
  start(settings);
  EXPECT_EQ(value("__Listen_id"), "none");
  for (int i = 0; i < 10; ++i) EXPECT_EQ(second(), kNoContent);
  EXPECT_EQ(server->eventCounters().listenCounter, 0u);

  server->variables().setVariable("__Listen_id", "ask1");
  EXPECT_EQ(second(), kNoContent);
  EXPECT_EQ(second(), kNoContent);
  EXPECT_EQ(talkOf(second("Reference0: 5\r\n")), "timeout=ask1.");
  EXPECT_EQ(value("__Listen_id"), "none");
  EXPECT_EQ(server->eventCounters().listenCounter, 0u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(second(), kNoContent);
}

TEST_F(EventHandlingTest, AnsweredTalkRestartsTheListenCount) {
  GhostSettings settings;
  settings.listenWait = "3";
  start(settings);
  server->variables().setVariable("__Listen_id", "ask2");
  second();
  second();
  EXPECT_EQ(talkOf(send("GET Sentence SHIORI/2.2\r\n\r\n")), "free=.");
  EXPECT_EQ(server->eventCounters().listenCounter, 0u);
  EXPECT_EQ(second(), kNoContent);
  EXPECT_EQ(second(), kNoContent);
  EXPECT_EQ(talkOf(second()), "timeout=ask2.");
}

TEST_F(EventHandlingTest, ListenWaitOfZeroTimesOutAtTheNextSecond) {
  GhostSettings settings;
  settings.listenWait = "0";
  start(settings);
  server->variables().setVariable("__Listen_id", "now");
  EXPECT_EQ(talkOf(second()), "timeout=now.");
}

TEST_F(EventHandlingTest, BodyTouchOnTheFourthMoveOverOnePart) {
  start();
  // References are numbered by position: the part is the third, the count the fourth.
  auto move = [&](const char* part, const char* extra = "") {
    std::string headers = "Reference0: 10\r\nReference1: 20\r\n";
    if (part != nullptr) headers += std::string("Reference4: ") + part + "\r\n";
    return talkOf(event("OnMouseMove", headers + extra));
  };
  EXPECT_EQ(move("hand"), "204 No Content");
  EXPECT_EQ(move("head"), "204 No Content");
  EXPECT_EQ(server->eventCounters().touchCounter, 0u);
  EXPECT_EQ(move("head"), "204 No Content");
  EXPECT_EQ(move("head"), "204 No Content");
  EXPECT_EQ(move("head", "Reference5: 99\r\n"), "touch=head,3.");
  EXPECT_EQ(move("head"), "touch=head,4.");
  EXPECT_EQ(move(nullptr), "204 No Content");   // no part: the count starts again
  EXPECT_EQ(server->eventCounters().touchPart, u"");
  EXPECT_EQ(server->eventCounters().touchCounter, 0u);
  EXPECT_EQ(move("head"), "204 No Content");
  EXPECT_EQ(server->eventCounters().touchCounter, 0u);
}

TEST_F(EventHandlingTest, TouchPartWithBadBytesIsNotCutShort) {
  start();
  const char* parts[] = {"a", "a\xff", "a", "a\xff", "\xff"};
  for (const char* part : parts) {
    event("OnMouseMove", std::string("Reference4: ") + part + "\r\n");
    EXPECT_EQ(server->eventCounters().touchCounter, 0u);
  }
}

TEST_F(EventHandlingTest, ConfiguredRenamesAndSeparations) {
  GhostSettings settings;
  settings.sections =
      "  <EventRename>\r\n"
      "    <Rename name=\"OnZelkaFreeTalk\" rename=\"MyFree\"/>\r\n"
      "    <Rename name=\"OnTest\" rename=\"OnRenamed\"/>\r\n"
      "  </EventRename>\r\n"
      "  <ReferenceSeparation>\r\n"
      "    <Separation event=\"OnRenamed\" reference=\"0\" expr=\"*,\"/>\r\n"
      "    <Separation event=\"OnTest\" reference=\"0\" expr=\"*;\"/>\r\n"
      "  </ReferenceSeparation>\r\n";
  start(settings);
  EXPECT_EQ(talkOf(send("GET Sentence SHIORI/2.2\r\n\r\n")), "renamed free");
  // The separation of the configured name applies.
  EXPECT_EQ(talkOf(event("OnTest", "Reference0: a,b;c\r\n")), "renamed=b;c.");
}

TEST_F(EventHandlingTest, ReferencesAreSplitAndNumberedByPosition) {
  GhostSettings settings;
  settings.sections =
      "  <ReferenceSeparation>\r\n"
      "    <Separation event=\"OnTest\" reference=\"0\" expr=\"*,\"/>\r\n"
      "  </ReferenceSeparation>\r\n";
  start(settings);
  EXPECT_EQ(talkOf(event("OnTest", "Reference0: a,b,c\r\nReference2: z\r\n")), "test=b/z/c.");
  EXPECT_TRUE(server->eventContext().references.empty());

  // A reference of 100 KiB with 51,200 pieces.
  std::string big;
  for (int i = 0; i < 51200; ++i) big += (i == 1 ? "y," : "x,");
  EXPECT_EQ(talkOf(event("OnTest", "Reference0: " + big + "\r\nReference1: " +
                                       std::string(100 * 1024, 'q') + "\r\n")),
            "test=y/" + std::string(100 * 1024, 'q') + "/x.");
}

TEST_F(EventHandlingTest, ExhValueFollowsTheTimerEvents) {
  start();
  struct Row {
    const char* event;
    const char* reference0;
    std::uint32_t exh;
  };
  const Row rows[] = {
      {"OnSecondChange", "42", 42},  {"OnSecondChange", "-3", 42},
      {"OnTest", "99", 42},          {"OnMinuteChange", "7", 7},
      {"OnSecondChange", nullptr, 7}, {"OnSecondChange", "abc", 0},
      {"OnMinuteChange", "  12x", 12},
  };
  for (const Row& row : rows) {
    std::string headers;
    if (row.reference0 != nullptr) headers = std::string("Reference0: ") + row.reference0 + "\r\n";
    event(row.event, headers);
    EXPECT_EQ(server->eventContext().exhValue, row.exh) << row.event << " " << row.reference0;
  }
  EXPECT_EQ(talkOf(event("OnMinuteChange", "Reference0: 5\r\n")), "minute=5.");
}

TEST_F(EventHandlingTest, ConvertedTimerEventsLeaveTheExhValue) {
  GhostSettings settings;
  settings.talkInterval = "2";
  start(settings);
  second("Reference0: 30\r\n");
  EXPECT_EQ(talkOf(second("Reference0: 31\r\n")), "free=0.");
  EXPECT_EQ(server->eventContext().exhValue, 30u);
}

TEST_F(EventHandlingTest, SurfaceChangePublishesBothSurfaces) {
  start();
  event("OnSurfaceChange", "Reference0: 5\r\nReference1: 10\r\n");
  EXPECT_EQ(value("__Surface_0"), "5");
  EXPECT_EQ(value("__Surface_1"), "10");
  event("OnSurfaceChange", "Reference0: 3\r\n");
  EXPECT_EQ(value("__Surface_0"), "3");
  EXPECT_EQ(value("__Surface_1"), "");
}

TEST_F(EventHandlingTest, ScopeIsForgottenBeforeEachEvent) {
  start();
  EXPECT_EQ(talkOf(event("OnScope")), "\\0\\s[5]\\s[6]");
  EXPECT_EQ(talkOf(event("OnScope")), "\\0\\s[5]\\s[6]");
}

TEST_F(EventHandlingTest, TimerAndMouseConversionsAreLoggedAtRunLevelFive) {
  GhostSettings settings;
  settings.runlevel = 5;
  settings.talkInterval = "2";
  settings.listenWait = "1";
  start(settings);
  send("NOTIFY OtherGhostName SHIORI/2.3\r\nGhost: me\r\nGhostEx: A\r\n\r\n");
  second();
  second();                                               // free talk
  server->variables().setVariable("__Listen_id", "L7");
  second();                                               // listen time-out
  for (int i = 0; i < 4; ++i) event("OnMouseMove", "Reference4: face\r\n");   // body touch
  const std::string log = finishAndReadLog();
  EXPECT_NE(log.find("\r\nOnZelkaFreeTalk Reference0: 1\x81\x69" "A\x81\x41\x81\x6A\r\n\r\n"),
            std::string::npos);
  EXPECT_NE(log.find("\r\nOnZelkaListenTimeout Reference0: L7\r\n\r\n"), std::string::npos);
  EXPECT_NE(log.find("\r\nOnZelkaBodyTouch Reference5: 3\r\n\r\n"), std::string::npos);
  EXPECT_EQ(log.find("expression automatic segmentation result"), std::string::npos);
}

TEST_F(EventHandlingTest, ConversionsAreNotLoggedBelowRunLevelFive) {
  GhostSettings settings;
  settings.runlevel = 4;
  settings.talkInterval = "1";
  start(settings);
  second();
  for (int i = 0; i < 4; ++i) event("OnMouseMove", "Reference4: face\r\n");
  const std::string log = finishAndReadLog();
  EXPECT_EQ(log.find("OnZelkaFreeTalk Reference0"), std::string::npos);
  EXPECT_EQ(log.find("OnZelkaBodyTouch Reference5"), std::string::npos);
}

// ---- the think thread ------------------------------------------------------------------

class EventHandlingThinkTest : public EventHandlingTest {
 protected:
  // A text long enough that its pass outlives the first wait (some thousand characters):
  // varied kanji that the bind network has never heard.
  static std::string longSentence(std::size_t bytes) {
    std::string text;
    unsigned i = 0;
    while (text.size() < bytes) {
      text += static_cast<char>(0x88 + (i / 94) % 24);
      text += static_cast<char>(0x9F + i % 94);
      ++i;
    }
    return text;
  }
  // Sends OnSecondChange until one is answered with talk (a bounded number of times, paced
  // so that a running pass can reach its end); answers the talk, or empty.
  std::string pollForAnswer() {
    for (int i = 0; i < 3000; ++i) {
      const std::string response = second();
      if (response.starts_with("SHIORI/2.6 200")) return talkOf(response);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
  }
};

TEST_F(EventHandlingThinkTest, HeardSentenceIsAnsweredInTheSameResponse) {
  start();
  const std::string response = sentence("hello there", "Sender: Alice\r\nAge: 2\r\nSecurityLevel: local\r\n");
  EXPECT_EQ(response,
            "SHIORI/2.6 200 OK\r\nSender: Zelka\r\nTo: Alice\r\nAge: 3\r\n"
            "Sentence: heard=1.\r\nCharset: Shift_JIS\r\n\r\n");
  EXPECT_EQ(value("__Sentence"), "hello there");
  EXPECT_EQ(value("__Think_accept"), "1");
  EXPECT_EQ(value("__Think_state"), "1");
  EXPECT_FALSE(server->eventContext().segments.empty());
  EXPECT_EQ(server->learningEngine().thinkPhase(), 1);
  // Nothing is left to collect.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(second(), kNoContent);
}

// Backslashes in what a request carries reach the host doubled, however a script echoes the
// text; the ghost's own tags stay, and the think pass and the "To:" header get the text as sent.
TEST_F(EventHandlingThinkTest, OutsideTextIsShownToTheHostNeverRun) {
  const std::string echo = "\\s[10]%reflex[__Sentence]|\\formula[copy = __Sentence]%reflex[copy]|"
                           "%reflex[__Sender]|%reflex[__To]\\n";
  start({.sections = "<ReferenceSeparation><Split event=\"OnEcho\" reference=\"0\" expr=\"*,\"/>"
                     "</ReferenceSeparation>"},
        knowledgeBlock("OnZelkaCommunicate", echo) +
            knowledgeBlock("OnEcho", "%ref0|%ref0[1]|%ref1|%reflex[__SurfaceWho0]\\e"));

  const std::string response = sentence("a\\![raise,OnBoot]b", "Sender: \\-\r\nAge: 1\r\n");
  EXPECT_EQ(response,
            "SHIORI/2.6 200 OK\r\nSender: Zelka\r\nTo: \\-\r\nAge: 2\r\n"
            "Sentence: \\s[10]a\\\\![raise,OnBoot]b|a\\\\![raise,OnBoot]b|\\\\-|\\\\-\\n\r\n"
            "Charset: Shift_JIS\r\n\r\n");
  std::u16string heard;
  for (const std::u16string& segment : server->eventContext().segments) heard += segment;
  EXPECT_EQ(heard, u"a\\![raise,OnBoot]b");

  // References, cut as sent and then shown; the quote protection still holds around them.
  EXPECT_EQ(talkOf(event("OnEcho", "Reference0: x\\-,y\\\r\nReference1: q\"\\-\"%rand[5]\r\n"
                                   "Surface: \\e,1\r\n")),
            "x\\\\-|y\\\\|q\"\\\\-\"%rand[5]|\\\\e\\e");
}

TEST_F(EventHandlingThinkTest, LongPassIsAnsweredByALaterSecond) {
  GhostSettings settings;
  settings.thinkWait = "100000";
  start(settings);
  const std::string first = sentence(longSentence(4 * 1024));
  if (first == kNoContent) {
    EXPECT_EQ(value("__Think_accept"), "0");
    EXPECT_EQ(server->learningEngine().thinkPhase(), 0);
    EXPECT_EQ(pollForAnswer(), "heard=1.");
  } else {
    // The machine finished the pass within the first wait.
    EXPECT_EQ(talkOf(first), "heard=1.");
  }
  EXPECT_EQ(value("__Think_state"), "1");
  EXPECT_FALSE(server->eventContext().segments.empty());
  EXPECT_EQ(second(), kNoContent);
}

// An environment variable set for the test's own loads, removed afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    setenv(name, value, 1);
  }
  ~ScopedEnvironment() { unsetenv(name_); }

 private:
  const char* name_;
};

// The waits a host can choose so that no answer depends on the machine's speed; GET Think
// tells it whether a pass still runs.
TEST_F(EventHandlingThinkTest, FirstThinkWaitFromTheEnvironmentFixesWhenTheAnswerComes) {
  GhostSettings settings;
  settings.thinkWait = "100000";
  {
    ScopedEnvironment wait("ZELKA_FIRST_THINK_WAIT", "end");
    start(settings);
    // Long enough to outlive the usual 500 ms on a slow machine, answered at once all the same.
    EXPECT_EQ(talkOf(sentence(longSentence(4 * 1024))), "heard=1.");
    EXPECT_EQ(talkOf(send("GET Think SHIORI/2.0\r\n\r\n")), "200 OK");
    EXPECT_NE(send("GET Think SHIORI/2.0\r\n\r\n").find("\r\nStatus: ready\r\n"),
              std::string::npos);
  }
  {
    ScopedEnvironment wait("ZELKA_FIRST_THINK_WAIT", "later");
    start(settings);
    // However short the pass, the answer is left to the next second.
    EXPECT_EQ(sentence("hi"), kNoContent);
    EXPECT_EQ(value("__Think_accept"), "0");
    std::string state;
    for (int i = 0; i < 6000; ++i) {
      state = send("GET Think SHIORI/2.0\r\n\r\n");
      if (state.find("Status: running") == std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(state, "SHIORI/2.6 200 OK\r\nStatus: finished\r\nCharset: Shift_JIS\r\n\r\n");
    EXPECT_EQ(talkOf(second()), "heard=1.");
    EXPECT_EQ(second(), kNoContent);
  }
}

// The same seed gives the same draws in a fresh load; without it the clock seeds as before.
TEST_F(EventHandlingTest, RandomSeedFromTheEnvironmentRepeatsTheDraws) {
  const std::string draw = "GET Word SHIORI/2.0\r\nType: %rand[1000000]-%rand[1000000]\r\n\r\n";
  std::string first;
  {
    ScopedEnvironment seed("ZELKA_RANDOM_SEED", "4294967295");
    start();
    first = send(draw);
    start();
    EXPECT_EQ(send(draw), first);
  }
  ScopedEnvironment seed("ZELKA_RANDOM_SEED", "7");
  start();
  EXPECT_NE(send(draw), first);
}

TEST(SessionTuningTest, ValuesOutsideTheirRangeAreIgnored) {
  struct Row {
    std::optional<std::string_view> seed, wait;
    std::optional<std::uint32_t> expectedSeed;
    int expectedWait;
  };
  const Row rows[] = {
      {std::nullopt, std::nullopt, std::nullopt, 500},
      {"0", "0", 0u, 0},
      {"4294967295", "60000", 4294967295u, 60000},
      {"4294967296", "60001", std::nullopt, 500},
      {"-1", "+5", std::nullopt, 500},
      {" 7", "end ", std::nullopt, 500},
      {"12x", "later", std::nullopt, SessionTuning::kAnswerLater},
      {"", "end", std::nullopt, SessionTuning::kWaitForEnd},
  };
  for (const Row& row : rows) {
    const SessionTuning tuning = parseSessionTuning(row.seed, row.wait);
    EXPECT_EQ(tuning.randomSeed, row.expectedSeed) << row.seed.value_or("(unset)");
    EXPECT_EQ(tuning.firstThinkWaitMs, row.expectedWait) << row.wait.value_or("(unset)");
  }
}

TEST_F(EventHandlingThinkTest, MegabyteSentenceIsCutOffByTheThinkWait) {
  GhostSettings settings;
  settings.thinkWait = "1";
  settings.runlevel = 3;
  start(settings);
  const std::string first = sentence(longSentence(1024 * 1024));
  ASSERT_TRUE(first.starts_with("SHIORI/2.6 20")) << first.substr(0, 40);
  const std::string talk = first == kNoContent ? pollForAnswer() : talkOf(first);
  // Cut off after one tick with segments (2), or ended before the tick (then heard).
  EXPECT_TRUE(talk == "late=2." || talk == "heard=1.") << talk;
  EXPECT_FALSE(server->eventContext().segments.empty());
  EXPECT_NE(server->learningEngine().thinkPhase(), 0);

  // What was learned is saved and loads again.
  const std::string log = finishAndReadLog();
  EXPECT_NE(log.find("\r\nexpression automatic segmentation result: \r\n"), std::string::npos);
  EXPECT_NE(log.find("\r\n__Think_accept: 1\r\n__Think_state: "), std::string::npos);
  EXPECT_GT(std::filesystem::file_size(ghost->path("_learning/bind.xml")), 1000u);
  server = std::make_unique<ShioriServer>();
  EXPECT_EQ(server->exportLoad(mallocCopy(ghost->dir()), static_cast<long>(ghost->dir().size())),
            1);
  EXPECT_EQ(talkOf(sentence("abc")), "heard=1.");
}

TEST_F(EventHandlingThinkTest, ThinkResultIsLoggedAtRunLevelThree) {
  GhostSettings settings;
  settings.runlevel = 3;
  start(settings);
  sentence("ab");
  const std::string log = finishAndReadLog();
  EXPECT_NE(log.find("\r\nexpression automatic segmentation result: \r\na b \r\n\r\n"
                     "__Think_accept: 1\r\n__Think_state: 1\r\n\r\n"),
            std::string::npos);
}

TEST_F(EventHandlingThinkTest, ThinkWaitOfZeroStillAnswers) {
  GhostSettings settings;
  settings.thinkWait = "0";
  start(settings);
  // The pass is cut off before its first character: no segment, state 3.
  const std::string response = sentence("hello");
  const std::string talk = response == kNoContent ? pollForAnswer() : talkOf(response);
  EXPECT_EQ(value("__Think_state"), "3");
  EXPECT_TRUE(talk == "heard=1." || talk == "late=3.") << talk;
  EXPECT_TRUE(server->eventContext().segments.empty());
}

TEST_F(EventHandlingThinkTest, InvalidShiftJisSentencesAreAnswered) {
  start();
  const char* texts[] = {"\x81", "\xff\xfe\xfd", "abc\x82", "\x81\x7f\x80\xa0", "\xa0\xfd"};
  for (const char* text : texts) {
    const std::string response = sentence(text);
    EXPECT_EQ(talkOf(response), "heard=1.") << text;
    EXPECT_EQ(value("__Think_accept"), "1");
  }
  EXPECT_EQ(talkOf(sentence("fine")), "heard=1.");
}

TEST_F(EventHandlingThinkTest, StormOfSentencesAndSecondsIsAnswered) {
  GhostSettings settings;
  settings.talkInterval = "7";
  start(settings);
  for (int i = 0; i < 1000; ++i) {
    const std::string heard = sentence("storm " + std::to_string(i % 37) + " words");
    ASSERT_TRUE(heard.starts_with("SHIORI/2.6 200 OK\r\n") ||
                heard.starts_with("SHIORI/2.6 204 No Content\r\n"))
        << i;
    const std::string tick = second();
    ASSERT_TRUE(tick.starts_with("SHIORI/2.6 200 OK\r\n") ||
                tick.starts_with("SHIORI/2.6 204 No Content\r\n"))
        << i;
  }
  EXPECT_EQ(server->exportUnload(), 1);
  EXPECT_EQ(server->learningEngine().thinkPhase(), 1);
}

TEST_F(EventHandlingThinkTest, UnloadStopsARunningPass) {
  GhostSettings settings;
  settings.thinkWait = "1000";
  start(settings);
  sentence(longSentence(1024 * 1024));
  EXPECT_EQ(server->exportUnload(), 1);
  EXPECT_NE(server->learningEngine().thinkPhase(), 0);
  server.reset();
  EXPECT_TRUE(ghost->exists("_learning/bind.xml"));
  EXPECT_TRUE(ghost->exists("_learning/reflex.txt"));
}

TEST_F(EventHandlingThinkTest, EventsWhileThinkingLeaveThePassAlone) {
  GhostSettings settings;
  settings.thinkWait = "100000";
  start(settings, kScripts + knowledgeBlock("OnBusy", "\\formula[1 + 1]busy=%commu[abc]."));
  const std::string first = sentence(longSentence(4 * 1024));
  if (first != kNoContent) GTEST_SKIP() << "the pass ended within the first wait";
  // A formula accepts thinking with "__Think_accept", which is 0 while the pass runs; the
  // resemblance element refuses to think beside it.
  EXPECT_EQ(talkOf(event("OnBusy")), "busy=0.");
  const int phase = server->learningEngine().thinkPhase();
  EXPECT_TRUE(phase == 0 || phase == 2) << phase;
  EXPECT_EQ(pollForAnswer(), "heard=1.");
  EXPECT_EQ(value("__Think_state"), "1");   // walked to its end, never stopped
}

}  // namespace
}  // namespace zelka
