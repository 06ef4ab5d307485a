// The module driven the way a host drives it: requests through the exported functions of the
// built zelka.so (mapped afresh for every test) on a temporary ghost with its own
// configuration and a Shift_JIS knowledge file.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "module/mapped_module.h"
#include "support/ghost_fixture.h"

namespace zelka {
namespace {

using testing::CurrentDirectory;
using testing::TempGhost;
using Module = testing::MappedModule;

// Shift_JIS texts of the knowledge file.
const std::string kHeard = "\x95\xb7\x82\xa2\x82\xbd";        // heard
const std::string kLate = "\x92\x78\x82\xea\x82\xbd";         // late
const std::string kIdle = "\x89\xc9";                         // idle
const std::string kTimeUp = "\x8e\x9e\x8a\xd4\x90\xd8\x82\xea";   // time is up
const std::string kTouch = "\x90\x47\x82\xe7\x82\xc8\x82\xa2\x82\xc5";   // do not touch

std::string block(const std::string& token, const std::string& script) {
  return "{\ntoken: " + token + "\nscript: " + script + "\n}\n";
}

std::string knowledge() {
  return "[ZELKA KNOWLEDGE 2.0]\n"
         "// the ghost's talk for the host tests\n" +
         block("OnZelkaCommunicate", kHeard + "=%reflex[__Think_state]") +
         block("OnZelkaCommunicateTimeout", kLate + "=%reflex[__Think_state]") +
         block("OnZelkaFreeTalk", kIdle + "=%ref0") +
         block("OnZelkaListenTimeout", kTimeUp + "=%ref0") +
         block("OnZelkaBodyTouch", kTouch + "=%ref1,%ref2") +
         block("OnAsk", "\\formula[__Listen_id = \"q7\"]ask") +
         block("OnEcho", "echo=%ref0/%ref1");
}

struct Settings {
  std::string talkInterval = "0";
  std::string listenWait = "16";
  std::string thinkWait = "5";
  std::string sections;
};

std::string configFor(const Settings& s) {
  return "<?xml version='1.0' encoding='Shift_JIS'?>\r\n"
         "<ZelkaConfiguration>\r\n"
         "  <GhostProfile birthday=\"2001/05/03\" talk_interval=\"" + s.talkInterval +
         "\" listen_wait=\"" + s.listenWait + "\" think_wait=\"" + s.thinkWait + "\"/>\r\n"
         "  <RunEnvironment runlevel=\"0\">\r\n"
         "    <Directory type=\"vender\" name=\"vender/\"/>\r\n"
         "    <Directory type=\"learning\" name=\"_learning/\"/>\r\n"
         "  </RunEnvironment>\r\n" + s.sections + "</ZelkaConfiguration>\r\n";
}

class HostPlayTest : public ::testing::Test {
 protected:
  void start(const Settings& settings = {}) {
    if (module) module->unload();
    module.reset();
    cwd.reset();
    ghost = std::make_unique<TempGhost>(configFor(settings));
    ghost->write("vender/talk.tlk", knowledge());
    cwd = std::make_unique<CurrentDirectory>(ghost->dir());
    module = std::make_unique<Module>();
    ASSERT_TRUE(module->ok()) << dlerror();
    ASSERT_EQ(module->load(ghost->dir()), 1);
  }
  void TearDown() override {
    if (module) module->unload();
    module.reset();
    cwd.reset();
    ghost.reset();
  }

  std::string event(std::string_view name, std::string_view headers = {}) {
    return module->send("GET Sentence SHIORI/2.2\r\nSender: SSP\r\nEvent: " + std::string(name) +
                        "\r\n" + std::string(headers) + "\r\n");
  }
  std::string second() { return event("OnSecondChange", "Reference0: 12\r\nReference1: 1\r\n"); }
  std::string hear(std::string_view sentence, std::string_view headers) {
    return module->send("GET Sentence SHIORI/2.2\r\n" + std::string(headers) + "Sentence: " +
                        std::string(sentence) + "\r\nSecurityLevel: local\r\n\r\n");
  }
  static std::string talkOf(const std::string& response) {
    const std::size_t at = response.find("\r\nSentence: ");
    if (at == std::string::npos) return "(" + response.substr(11, response.find("\r\n") - 11) + ")";
    return response.substr(at + 12, response.find("\r\n", at + 12) - at - 12);
  }
  // Sends OnSecondChange, paced, until one carries talk; a bounded number of times.
  std::string pollForTalk() {
    for (int i = 0; i < 3000; ++i) {
      const std::string response = second();
      if (response.starts_with("SHIORI/2.6 200 OK\r\n")) return talkOf(response);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
  }

  std::unique_ptr<TempGhost> ghost;
  std::unique_ptr<CurrentDirectory> cwd;
  std::unique_ptr<Module> module;
};

constexpr const char* kNoContent = "SHIORI/2.6 204 No Content\r\nCharset: Shift_JIS\r\n\r\n";

std::string longSentence(std::size_t bytes) {
  std::string text;
  for (unsigned i = 0; text.size() < bytes; ++i) {
    text += static_cast<char>(0x88 + (i / 94) % 24);
    text += static_cast<char>(0x9F + i % 94);
  }
  return text;
}

class HostPlayThinkTest : public HostPlayTest {};

TEST_F(HostPlayThinkTest, HeardSentenceIsAnsweredInTheSameResponse) {
  start();
  module->send("NOTIFY OwnerGhostName SHIORI/2.3\r\nGhost: Emily\r\n\r\n");
  const std::string hello = "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd";
  EXPECT_EQ(hear(hello, "Sender: Alice\r\nAge: 2\r\n"),
            "SHIORI/2.6 200 OK\r\nSender: Emily\r\nTo: Alice\r\nAge: 3\r\nSentence: " + kHeard +
                "=1\r\nCharset: Shift_JIS\r\n\r\n");
  EXPECT_EQ(hear(hello, "Sender: User\r\nAge: 2\r\n"),
            "SHIORI/2.6 200 OK\r\nSender: Emily\r\nSentence: " + kHeard +
                "=1\r\nCharset: Shift_JIS\r\n\r\n");
  EXPECT_EQ(hear(hello, "Sender: Alice\r\n"),
            "SHIORI/2.6 200 OK\r\nSender: Emily\r\nTo: Alice\r\nAge: 0\r\nSentence: " + kHeard +
                "=1\r\nCharset: Shift_JIS\r\n\r\n");
  // Nothing is left over for the timer.
  EXPECT_EQ(second(), kNoContent);
}

TEST_F(HostPlayThinkTest, MegabyteSentenceIsCutOffAndAnsweredByALaterSecond) {
  Settings settings;
  settings.thinkWait = "1";
  start(settings);
  // A pass over a million bytes cannot end within the first wait.
  EXPECT_EQ(hear(longSentence(1024 * 1024), "Sender: Alice\r\nAge: 4\r\n"), kNoContent);
  // One tick uses up the think wait; the pass stops with its segments (state 2) and the
  // next second collects it as the time-out event.
  const std::string talk = pollForTalk();
  EXPECT_EQ(talk, kLate + "=2");
  EXPECT_EQ(second(), kNoContent);

  // What the pass learned is saved and the ghost starts again on it.
  EXPECT_EQ(module->unload(), 1);
  module.reset();
  module = std::make_unique<Module>();
  ASSERT_EQ(module->load(ghost->dir()), 1);
  EXPECT_NE(ghost->read("_learning/bind.xml").find("total="), std::string::npos);
  EXPECT_EQ(talkOf(hear("abc", "Sender: Alice\r\n")), kHeard + "=1");
}

TEST_F(HostPlayThinkTest, SlowPassIsAnsweredAsCommunicationByALaterSecond) {
  Settings settings;
  settings.thinkWait = "100000";
  start(settings);
  const std::string first = hear(longSentence(4 * 1024), "Sender: Alice\r\n");
  const std::string talk = first == kNoContent ? pollForTalk() : talkOf(first);
  EXPECT_EQ(talk, kHeard + "=1");
}

TEST_F(HostPlayThinkTest, UnloadWhileAPassIsRunning) {
  Settings settings;
  settings.thinkWait = "100000";
  start(settings);
  EXPECT_EQ(hear(longSentence(1024 * 1024), "Sender: Alice\r\n"), kNoContent);
  EXPECT_EQ(module->unload(), 1);
  module.reset();   // unmapped with the pass stopped and joined
  EXPECT_TRUE(ghost->exists("_learning/bind.xml"));
  module = std::make_unique<Module>();
  ASSERT_EQ(module->load(ghost->dir()), 1);
  EXPECT_EQ(talkOf(hear("abc", "Sender: Alice\r\n")), kHeard + "=1");
}

TEST_F(HostPlayThinkTest, StormOfSentencesAndSecondsIsAnswered) {
  Settings settings;
  settings.talkInterval = "10";
  start(settings);
  int answered = 0;
  for (int i = 0; i < 1000; ++i) {
    for (const std::string& response :
         {hear("storm " + std::to_string(i % 50), "Sender: Alice\r\n"), second()}) {
      ASSERT_TRUE(response.starts_with("SHIORI/2.6 200 OK\r\n") || response == kNoContent)
          << i << ": " << response;
      if (response.starts_with("SHIORI/2.6 200")) ++answered;
    }
  }
  EXPECT_GT(answered, 0);
}

TEST_F(HostPlayTest, FreeTalkEveryInterval) {
  Settings settings;
  settings.talkInterval = "5";
  start(settings);
  std::vector<int> talkSeconds;
  for (int i = 1; i <= 15; ++i) {
    const std::string response = second();
    if (response != kNoContent) {
      EXPECT_EQ(talkOf(response), kIdle + "=0");
      talkSeconds.push_back(i);
    }
  }
  EXPECT_EQ(talkSeconds, (std::vector<int>{5, 10, 15}));
  module->send("NOTIFY OtherGhostName SHIORI/2.3\r\nGhost: me\r\nGhostEx: Other\r\n\r\n");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(second(), kNoContent);
  EXPECT_EQ(talkOf(second()), kIdle + "=1");
}

TEST_F(HostPlayTest, OneListenTimeout) {
  Settings settings;
  settings.listenWait = "3";
  start(settings);
  EXPECT_EQ(talkOf(event("OnAsk")), "ask");
  EXPECT_EQ(second(), kNoContent);
  EXPECT_EQ(second(), kNoContent);
  EXPECT_EQ(talkOf(second()), kTimeUp + "=q7");
  for (int i = 0; i < 20; ++i) EXPECT_EQ(second(), kNoContent);
}

TEST_F(HostPlayTest, BodyTouchOnTheFourthMove) {
  start();
  auto move = [&](std::string_view part) {
    return talkOf(event("OnMouseMove", "Reference0: 100\r\nReference4: " + std::string(part) +
                                           "\r\n"));
  };
  EXPECT_EQ(move("Head"), "(204 No Content)");
  EXPECT_EQ(move("Head"), "(204 No Content)");
  EXPECT_EQ(move("Head"), "(204 No Content)");
  EXPECT_EQ(move("Head"), kTouch + "=Head,3");
  EXPECT_EQ(move("Head"), kTouch + "=Head,4");
  EXPECT_EQ(talkOf(event("OnMouseMove", "Reference0: 100\r\n")), "(204 No Content)");
  EXPECT_EQ(move("Head"), "(204 No Content)");
}

TEST_F(HostPlayTest, ResponsesNeverCarryTheRequestsReferences) {
  Settings settings;
  settings.talkInterval = "2";
  start(settings);
  const std::string references =
      "Reference0: 1\r\nReference1: 2\r\nReference2: 3\r\nReference3: 4\r\nReference4: Face\r\n"
      "Reference5: 6\r\nReference6: 7\r\nReference7: 8\r\n";
  const char* events[] = {"OnSecondChange", "OnSecondChange", "OnMouseMove", "OnMouseMove",
                          "OnMouseMove",    "OnMouseMove",    "OnEcho",      "OnClose",
                          "OnMinuteChange", "OnSurfaceChange"};
  int answered = 0;
  for (const char* name : events) {
    const std::string response = event(name, references);
    EXPECT_EQ(response.find("\r\nReference"), std::string::npos) << name;
    answered += response.starts_with("SHIORI/2.6 200") ? 1 : 0;
  }
  EXPECT_EQ(answered, 3);   // free talk, body touch, echo
}

TEST_F(HostPlayTest, BadInputIsAnswered) {
  Settings settings;
  settings.sections =
      "  <ReferenceSeparation>\r\n"
      "    <Separation event=\"OnEcho\" reference=\"0\" expr=\"*\"/>\r\n"
      "    <Separation event=\"OnEcho\" reference=\"1\" expr=\"#\"/>\r\n"
      "  </ReferenceSeparation>\r\n";
  start(settings);
  const std::string big(100 * 1024, 'x');
  struct Row {
    std::string request;
    std::string talk;
  };
  const Row rows[] = {
      {"GET Sentence SHIORI/2.2\r\nSender: A\r\nSentence: \x81\r\n\r\n", kHeard + "=1"},
      {"GET Sentence SHIORI/2.2\r\nSender: A\r\nSentence: ab\xff\xfe" "cd\r\n\r\n", kHeard + "=1"},
      {"GET Sentence SHIORI/2.2\r\nSender: A\r\nSentence: \r\n\r\n", kIdle + "="},
      {"GET Sentence SHIORI/2.2\r\nEvent: OnMouseMove\r\nReference0: 1\r\n\r\n",
       "(204 No Content)"},
      // Only a wildcard, and no wildcard: every byte separates.
      {"GET Sentence SHIORI/2.2\r\nEvent: OnEcho\r\nReference0: " + big + "\r\nReference1: " +
           big + "\r\n\r\n",
       "echo=/"},
      {"GET Sentence SHIORI/2.2\r\nEvent: OnEcho\r\nReference2: " + big + "\r\n\r\n",
       "echo=" + big + "/"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(talkOf(module->send(row.request)), row.talk) << row.request.substr(0, 60);
  }
}

TEST_F(HostPlayTest, OddTalkIntervalsGiveNoFreeTalk) {
  for (const char* interval : {"abc", "-5", "4294967295"}) {
    Settings settings;
    settings.talkInterval = interval;
    start(settings);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(second(), kNoContent) << interval;
  }
}

}  // namespace
}  // namespace zelka
