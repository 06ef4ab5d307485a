#include "learning/think_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "stores/bind_network.h"

namespace zelka {
namespace {

namespace fs = std::filesystem;
using Segments = std::deque<std::u16string>;

constexpr int kLongWaitMs = 600000;  // "until the pass ends": the wait returns as soon as it does
const std::u16string kKernel = u"__zelka_kernel";
const std::u16string kSomeone = u"someone";

// A text long enough that no pass walks it before the test stops it.
std::u16string longText() {
  std::u16string text;
  text.reserve(std::size_t{1} << 20);
  std::uint32_t x = 12345;
  while (text.size() < (std::size_t{1} << 20)) {
    x = x * 1103515245u + 12345u;
    text.push_back(static_cast<char16_t>(u'a' + (x >> 16) % 12));
  }
  return text;
}

class ThinkThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> serial{0};
    dir_ = fs::temp_directory_path() /
           ("zelka-think-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
            std::to_string(serial++));
    fs::create_directories(dir_);
    ASSERT_TRUE(bind_.load((dir_ / "bind.xml").u16string()));
    ASSERT_TRUE(bind_.root());
  }
  void TearDown() override {
    think_.reset();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  ThinkThread& think() { return *think_; }
  BindNode root() { return bind_.root(); }
  // Any child of that name, whatever its distance.
  static BindNode child(const BindNode& parent, char16_t c) {
    return parent.findChild(std::u16string_view(&c, 1), 0);
  }

  fs::path dir_;
  BindNetworkStore bind_;
  std::unique_ptr<ThinkThread> think_ = std::make_unique<ThinkThread>(bind_);
};

TEST_F(ThinkThreadTest, WorkedExampleOnRootOnlyNetwork) {
  Segments first;
  EXPECT_EQ(think().thinkNow(kSomeone, u"", u"ab", first), 1);
  EXPECT_EQ(first, (Segments{u"a", u"b"}));
  EXPECT_EQ(think().thinkPhase(), 2);
  EXPECT_EQ(think().thinkResult(), 0);

  BindNode a = child(root(), u'a');
  BindNode b = child(root(), u'b');
  ASSERT_TRUE(a);
  ASSERT_TRUE(b);
  BindNode ab = child(a, u'b');
  ASSERT_TRUE(ab);
  EXPECT_DOUBLE_EQ(ab.distance(), 0.0);  // added while a's total was 0
  EXPECT_DOUBLE_EQ(a.total(), 1.0);
  // a was added and reinforced, b only added.
  EXPECT_DOUBLE_EQ(root().total(), 3.0);
  EXPECT_NEAR(a.distance(), 0.176091259055681, 1e-12);
  EXPECT_NEAR(b.distance(), 0.477121254719662, 1e-12);

  think().acceptThinking(1);
  Segments second;
  EXPECT_EQ(think().thinkNow(kSomeone, u"", u"ab", second), 1);
  EXPECT_EQ(second, (Segments{u"ab"}));
  EXPECT_DOUBLE_EQ(child(a, u'b').distance(), 0.0);
  EXPECT_DOUBLE_EQ(a.total(), 2.0);  // the a->b link was followed and reinforced
  EXPECT_DOUBLE_EQ(root().total(), 4.0);
}

TEST_F(ThinkThreadTest, WorkedExampleOnTheWorkerThread) {
  EXPECT_EQ(think().startThinking(kSomeone, u"1", u"ab", kLongWaitMs), 1);
  EXPECT_FALSE(think().threadRunning());
  EXPECT_EQ(think().thinkPhase(), 2);
  EXPECT_EQ(think().thinkResult(), 1);
  Segments got{u"stale"};
  think().takeSegments(got);
  EXPECT_EQ(got, (Segments{u"a", u"b"}));
  EXPECT_EQ(think().acceptThinking(1), 1);

  EXPECT_EQ(think().startThinking(kSomeone, u"1", u"ab", kLongWaitMs), 1);
  think().takeSegments(got);
  EXPECT_EQ(got, (Segments{u"ab"}));
  EXPECT_EQ(think().thinkResult(), 1);
}

TEST_F(ThinkThreadTest, KernelSenderAddsButNeverReinforces) {
  Segments first;
  EXPECT_EQ(think().thinkNow(kKernel, u"", u"ab", first), 1);
  EXPECT_EQ(first, (Segments{u"a", u"b"}));
  BindNode a = child(root(), u'a');
  ASSERT_TRUE(a);
  ASSERT_TRUE(child(root(), u'b'));
  ASSERT_TRUE(child(a, u'b'));
  // Two registrations, no reinforcement.
  EXPECT_DOUBLE_EQ(root().total(), 2.0);
  EXPECT_DOUBLE_EQ(a.total(), 1.0);

  const std::string before = bind_.serialize();
  think().acceptThinking(1);
  Segments second;
  EXPECT_EQ(think().thinkNow(kKernel, u"", u"ab", second), 1);
  EXPECT_EQ(second, (Segments{u"ab"}));
  EXPECT_EQ(bind_.serialize(), before);  // the path was followed, nothing changed

  // A sender that merely starts like the kernel's name is an ordinary sender.
  think().acceptThinking(1);
  Segments third;
  EXPECT_EQ(think().thinkNow(u"__zelka_kerne", u"", u"ab", third), 1);
  EXPECT_NE(bind_.serialize(), before);
}

TEST_F(ThinkThreadTest, EmptyTextWalksThrough) {
  Segments out;
  EXPECT_EQ(think().thinkNow(kSomeone, u"", u"", out), 1);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(think().thinkPhase(), 2);

  think().acceptThinking(1);
  EXPECT_EQ(think().startThinking(kSomeone, u"", u"", kLongWaitMs), 1);
  EXPECT_EQ(think().thinkPhase(), 2);
  EXPECT_EQ(think().thinkResult(), 1);
  think().takeSegments(out);
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(child(root(), u'a'));
}

TEST_F(ThinkThreadTest, NeverHeardCharactersBecomeSegmentsOfTheirOwn) {
  Segments out;
  EXPECT_EQ(think().thinkNow(kSomeone, u"", u"xyz", out), 1);
  EXPECT_EQ(out, (Segments{u"x", u"y", u"z"}));
  BindNode x = child(root(), u'x');
  BindNode y = child(root(), u'y');
  ASSERT_TRUE(x);
  ASSERT_TRUE(y);
  ASSERT_TRUE(child(root(), u'z'));
  EXPECT_TRUE(child(x, u'y'));
  EXPECT_TRUE(child(y, u'z'));
  EXPECT_FALSE(child(x, u'z'));
}

// A root child whose distance was edited beyond every limit ("inf", "1e999", or merely over
// 100) is never followed: passing it counts nothing, a distance that is not a number is
// written back as a finite one, and nothing joins the refused character in its segment.
TEST(ThinkThreadRefusedLinkTest, RefusedRootChildCountsNothingAndEndsItsSegment) {
  struct Case {
    const char* distance;
    std::u16string afterPassage;  // x's distance once y's passage rescaled it
  } cases[] = {
      {"inf", u"1.000000000000000e+300"},
      {"1e999", u"1.000000000000000e+300"},
      {"200", u"2.001760912590557e+002"},
  };
  for (const Case& c : cases) {
    BindNetworkStore bind;
    ASSERT_EQ(bind.openFromText(std::string("<Bind name=\"root\" total=\"2\">"
                                            "<Bind name=\"x\" distance=\"") +
                                c.distance +
                                "\" total=\"0\"/>"
                                "<Bind name=\"y\" distance=\"0\" total=\"0\"/></Bind>"),
              XmlOpenResult::Loaded);
    ThinkThread think(bind);
    XmlNode root = bind.root().element();
    XmlNode x = root.findChildByKey(u"name", u"x").match;
    XmlNode y = root.findChildByKey(u"name", u"y").match;

    Segments out;
    EXPECT_EQ(think.thinkNow(kSomeone, u"", u"x", out), 1);
    EXPECT_EQ(out, Segments{u"x"}) << c.distance;
    EXPECT_EQ(root.attribute(u"total"), u"2") << c.distance;
    EXPECT_EQ(root.childCount(), 2u);

    out.clear();
    EXPECT_EQ(think.thinkNow(kSomeone, u"", u"xy", out), 1);
    EXPECT_EQ(out, (Segments{u"x", u"y"})) << c.distance;
    // Only y's passage counted.
    EXPECT_EQ(root.attribute(u"total"), u"3.000000000000000e+000") << c.distance;
    EXPECT_EQ(y.attribute(u"distance"), u"0.000000000000000e+000") << c.distance;
    EXPECT_EQ(x.attribute(u"distance"), c.afterPassage) << c.distance;
    EXPECT_EQ(x.childCount(), 0u);
  }
}

TEST_F(ThinkThreadTest, ThinkWaitZeroCutsOffBeforeTheFirstCharacter) {
  think().setThinkWait(0);
  EXPECT_EQ(think().startThinking(kSomeone, u"", u"abc", kLongWaitMs), 1);
  EXPECT_EQ(think().thinkPhase(), 2);
  EXPECT_EQ(think().thinkResult(), 3);
  Segments taken{u"stale"};
  think().takeSegments(taken);
  EXPECT_TRUE(taken.empty());
  EXPECT_FALSE(child(root(), u'a'));

  struct Case {
    Segments queue;
    int expected;
  };
  for (const Case& c : {Case{{}, 3}, Case{{u"kept"}, 2}}) {
    Segments queue = c.queue;
    EXPECT_EQ(think().thinkNow(kSomeone, u"", u"abc", queue), c.expected);
    EXPECT_EQ(queue, c.queue);
    EXPECT_EQ(think().thinkResult(), 0);  // the synchronous pass leaves its reset value
    EXPECT_EQ(think().thinkPhase(), 2);
  }
  EXPECT_FALSE(child(root(), u'a'));
}

TEST_F(ThinkThreadTest, AcceptWhileRunningReturnsOnlyAfterTheThreadEnded) {
  ASSERT_EQ(think().startThinking(kSomeone, u"", longText(), 0), 2);
  EXPECT_TRUE(think().threadRunning());
  EXPECT_EQ(think().thinkPhase(), 0);

  EXPECT_EQ(think().acceptThinking(1), 1);
  EXPECT_FALSE(think().threadRunning());
  EXPECT_EQ(think().thinkPhase(), 1);  // the thread's end wrote 2, the accept set 1 again
  EXPECT_TRUE(think().thinkResult() == 2 || think().thinkResult() == 3);
  const int ticks = think().thinkTicks();
  EXPECT_EQ(think().tickThinking(), ticks);  // no thread, no counting
}

TEST_F(ThinkThreadTest, RequestsWhileRunningAreRefused) {
  ASSERT_EQ(think().startThinking(kSomeone, u"", longText(), 0), 2);
  EXPECT_EQ(think().startThinking(kSomeone, u"", u"ab", kLongWaitMs), 0);
  Segments kept{u"kept"};
  EXPECT_EQ(think().thinkNow(kSomeone, u"", u"ab", kept), 2);
  EXPECT_EQ(kept, (Segments{u"kept"}));
  Segments none;
  EXPECT_EQ(think().thinkNow(kSomeone, u"", u"ab", none), 3);
  EXPECT_TRUE(none.empty());
  // A level below 1 neither stops nor waits.
  EXPECT_EQ(think().acceptThinking(0), 0);
  EXPECT_EQ(think().acceptThinking(-3), 0);
  EXPECT_TRUE(think().threadRunning());

  EXPECT_EQ(think().acceptThinking(1), 1);
  EXPECT_NE(think().thinkResult(), 0);  // the refused requests did not reset the running pass
}

TEST_F(ThinkThreadTest, LongPassIsCutWhenTicksReachThinkWait) {
  think().setThinkWait(2);
  const std::u16string text = longText();
  ASSERT_EQ(think().startThinking(kSomeone, u"", text, 0), 2);
  // Let the pass output something first, so that the cut is the ticks' and not the start's.
  for (Segments early; early.empty() && think().thinkPhase() == 0;) think().takeSegments(early);
  EXPECT_EQ(think().tickThinking(), 1);
  EXPECT_EQ(think().tickThinking(), 2);
  // The pass notices the ticks at its next character and ends by itself.
  while (think().thinkPhase() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_GE(think().thinkTicks(), think().thinkWait());
  Segments got;
  think().takeSegments(got);
  EXPECT_EQ(think().acceptThinking(1), 1);
  EXPECT_EQ(think().thinkResult(), 2);
  ASSERT_FALSE(got.empty());
  // The segments spell the walked part of the text; the unfinished one is dropped.
  std::u16string joined;
  for (const auto& s : got) joined += s;
  EXPECT_LT(joined.size(), text.size());
  EXPECT_EQ(text.compare(0, joined.size(), joined), 0);

  // Ticks stop counting once the thread has ended, and restart at 0 with the next pass.
  const int ticks = think().thinkTicks();
  EXPECT_EQ(think().tickThinking(), ticks);
  EXPECT_EQ(think().startThinking(kSomeone, u"", u"ab", kLongWaitMs), 1);
  EXPECT_EQ(think().thinkTicks(), 0);
}

TEST_F(ThinkThreadTest, StartWhileFinishedDiscardsTheOldSegments) {
  EXPECT_EQ(think().startThinking(kSomeone, u"", u"ab", kLongWaitMs), 1);
  ASSERT_EQ(think().thinkPhase(), 2);
  EXPECT_EQ(think().startThinking(kSomeone, u"", u"zz", kLongWaitMs), 1);
  Segments got;
  think().takeSegments(got);
  EXPECT_EQ(got, (Segments{u"z", u"z"}));
  EXPECT_EQ(think().startThinking(kSomeone, u"", u"", kLongWaitMs), 1);
  think().takeSegments(got);
  EXPECT_TRUE(got.empty());
}

TEST_F(ThinkThreadTest, PhaseTransitions) {
  // ready -> a pass -> finished -> accepted -> a pass -> finished -> a new pass -> a level.
  EXPECT_EQ(think().thinkPhase(), 1);
  EXPECT_EQ(think().tickThinking(), 0);  // no thread, no counting
  Segments out;
  think().thinkNow(kSomeone, u"", u"ab", out);
  EXPECT_EQ(think().thinkPhase(), 2);
  EXPECT_EQ(think().acceptThinking(1), 1);
  EXPECT_EQ(think().startThinking(kSomeone, u"", u"ab", kLongWaitMs), 1);
  EXPECT_EQ(think().thinkPhase(), 2);
  // Any positive level counts as ready.
  EXPECT_EQ(think().acceptThinking(7), 7);
  EXPECT_EQ(think().thinkNow(kSomeone, u"", u"a", out), 1);
  EXPECT_EQ(think().thinkPhase(), 2);
  EXPECT_EQ(think().acceptThinking(0), 2);
  // A running pass stopped with a level ends at that level, not at 2.
  ASSERT_EQ(think().startThinking(kSomeone, u"", longText(), 0), 2);
  EXPECT_EQ(think().thinkPhase(), 0);
  EXPECT_EQ(think().acceptThinking(4), 4);
  EXPECT_EQ(think().thinkPhase(), 4);
}

TEST_F(ThinkThreadTest, DestructionStopsAndJoinsARunningPass) {
  ASSERT_EQ(think().startThinking(kSomeone, u"", longText(), 0), 2);
  think_.reset();
  // The network is the owner's again and still whole.
  ASSERT_TRUE(root());
  EXPECT_TRUE(bind_.saveStore());

  // A fresh owner over the same network works as before.
  think_ = std::make_unique<ThinkThread>(bind_);
  EXPECT_EQ(think().startThinking(kSomeone, u"", u"", kLongWaitMs), 1);
}

TEST_F(ThinkThreadTest, ThreadedAndSynchronousPassesAgree) {
  // The same texts on two fresh networks give the same segments and the same files.
  const std::u16string texts[] = {u"あいうえおあいうえお", u"かきくけこあいう", u"あいかき"};
  BindNetworkStore other;
  ASSERT_TRUE(other.load((dir_ / "other.xml").u16string()));
  ThinkThread sync(other);
  for (const auto& text : texts) {
    ASSERT_EQ(think().startThinking(kSomeone, u"", text, kLongWaitMs), 1);
    Segments threaded;
    think().takeSegments(threaded);
    think().acceptThinking(1);
    Segments direct;
    EXPECT_EQ(sync.thinkNow(kSomeone, u"", text, direct), 1);
    sync.acceptThinking(1);
    EXPECT_EQ(threaded, direct);
  }
  EXPECT_EQ(bind_.serialize(), other.serialize());
}

}  // namespace
}  // namespace zelka
