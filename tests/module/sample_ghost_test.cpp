// The sample ghost and the authors' guide, through the module's exported functions: the built
// zelka.so is mapped afresh for every test and loaded on a scratch copy of ghost/sample. Every
// script, condition and event of the sample must expand without an error report, the
// dictionary must reach the category elements, and every example of docs/authoring.md must
// give the result the guide shows.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/zelka_config.h"
#include "module/mapped_module.h"
#include "platform/text_codec.h"
#include "script/knowledge_file.h"
#include "support/ghost_fixture.h"
#include "support/guide_blocks.h"

namespace zelka {
namespace {

namespace fs = std::filesystem;
using testing::CurrentDirectory;
using testing::GuideBlock;
using testing::guideBlocks;
using testing::TempGhost;

const fs::path kSampleDir = fs::path(ZELKA_SOURCE_DIR) / "ghost" / "sample";
const fs::path kGuidePath = fs::path(ZELKA_SOURCE_DIR) / "docs" / "authoring.md";
const std::string kErrorMark = "Zelka Script Error";

// ---- text helpers --------------------------------------------------------------------------

std::string sjis(std::string_view utf8) { return toNarrow(utf8ToUtf16(utf8)); }
std::string utf8(std::string_view shiftJis) { return utf16ToUtf8(toWide(shiftJis)); }

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool isLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc); }

// The clean-up a finished talk gets before it reaches the host: a backslash-quote pair becomes
// a quote, every other double quote goes. GET Word answers the text before this clean-up.
std::string finalTalk(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (isLeadByte(c) && i + 1 < text.size()) {
      out += text[i];
      out += text[++i];
    } else if (c == '\\' && i + 1 < text.size() && text[i + 1] == '"') {
      out += '"';
      ++i;
    } else if (c != '"') {
      out += text[i];
    }
  }
  return out;
}

// ---- the module ----------------------------------------------------------------------------

struct Answer {
  int status = 0;
  std::string value;  // Word:, Sentence: or String:, Shift_JIS
  std::string raw;
};

// The module, with each answer taken apart into its status and its talk value.
class Module {
 public:
  bool ok() const { return module_.ok(); }
  int load(std::string_view dir) { return module_.load(dir); }
  int unload() { return module_.unload(); }

  Answer send(std::string_view text) {
    Answer answer;
    answer.raw = module_.send(text);
    if (answer.raw == "(null)") {
      answer.raw.clear();
      return answer;
    }
    if (answer.raw.size() > 11) answer.status = std::atoi(answer.raw.c_str() + 11);
    for (const char* key : {"\r\nWord: ", "\r\nSentence: ", "\r\nString: "}) {
      const std::size_t at = answer.raw.find(key);
      if (at == std::string::npos) continue;
      const std::size_t begin = at + std::strlen(key);
      answer.value = answer.raw.substr(begin, answer.raw.find("\r\n", begin) - begin);
    }
    return answer;
  }

 private:
  testing::MappedModule module_;
};

// ---- the sample's files --------------------------------------------------------------------

struct SampleKnowledge {
  KnowledgeBase base;
  std::vector<std::string> problems;  // files that did not read cleanly
};

SampleKnowledge readSampleKnowledge() {
  SampleKnowledge knowledge;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(kSampleDir / "vendor")) files.push_back(entry);
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    const std::string extension = file.extension().string();
    if (extension != ".tlk" && extension != ".tlc") continue;
    KnowledgeFileReport report;
    const bool read = parseKnowledgeFile(u"OnZelkaFreeTalk", file.string(), kKnowledgeFileHeader,
                                         extension == ".tlc", knowledge.base, &report);
    if (!read || report.entriesAdded == 0 || report.entriesDropped != 0 ||
        report.unclosedBraces != 0) {
      knowledge.problems.push_back(file.filename().string());
    }
  }
  return knowledge;
}

// The dictionary: category -> display words (the first word of each line), in file order,
// in UTF-8.
using Dictionary = std::map<std::string, std::vector<std::string>>;

Dictionary readSampleDictionary() {
  std::istringstream in(utf8(readFile(kSampleDir / "vendor" / "words.mem")));
  Dictionary dictionary;
  std::string line;
  std::string category;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = line.substr(0, line.find("//"));
    const std::size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos) continue;
    line.erase(0, first);
    if (line[0] == '[') {
      category = line.substr(1, line.rfind(']') - 1);
      continue;
    }
    dictionary[category].push_back(line.substr(0, line.find(' ')));
  }
  return dictionary;
}

// The words association can end on under a category: the display words of its lines, with a
// line that is itself a category replaced by that category's words.
std::set<std::string> wordsUnder(const Dictionary& dictionary, const std::string& category,
                                 int depth = 0) {
  std::set<std::string> words;
  const auto found = dictionary.find(category);
  if (found == dictionary.end() || depth > 8) return words;
  for (const std::string& word : found->second) {
    if (dictionary.count(word) != 0) {
      const std::set<std::string> below = wordsUnder(dictionary, word, depth + 1);
      words.insert(below.begin(), below.end());
    } else {
      words.insert(word);
    }
  }
  return words;
}

// ---- the fixture ---------------------------------------------------------------------------

class SampleGhostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ghost = std::make_unique<TempGhost>(std::string());
    fs::copy(kSampleDir, ghost->dir(), fs::copy_options::recursive |
                                           fs::copy_options::overwrite_existing);
    cwd = std::make_unique<CurrentDirectory>(ghost->dir());
    start();
  }
  void TearDown() override {
    stop();
    cwd.reset();
    ghost.reset();
  }
  void start() {
    module = std::make_unique<Module>();
    ASSERT_TRUE(module->ok()) << dlerror();
    ASSERT_EQ(module->load(ghost->dir()), 1);
  }
  void stop() {
    if (module) {
      EXPECT_EQ(module->unload(), 1);
    }
    module.reset();
  }

  Answer word(std::string_view script) {
    return module->send("GET Word SHIORI/2.0\r\nSender: test\r\nType: " + std::string(script) +
                        "\r\n\r\n");
  }
  // The final talk of a script, in Shift_JIS.
  std::string talkOf(std::string_view script) { return finalTalk(word(script).value); }

  Answer event(std::string_view name, const std::vector<std::string>& references = {}) {
    std::string request = "GET Sentence SHIORI/2.2\r\nSender: SSP\r\nEvent: " +
                          std::string(name) + "\r\n";
    for (std::size_t n = 0; n < references.size(); ++n) {
      request += "Reference" + std::to_string(n) + ": " + references[n] + "\r\n";
    }
    return module->send(request + "SecurityLevel: local\r\n\r\n");
  }
  Answer freeTalk() { return module->send("GET Sentence SHIORI/2.2\r\nSender: SSP\r\n\r\n"); }
  Answer resource(std::string_view id) {
    return module->send("GET String SHIORI/2.5\r\nSender: SSP\r\nID: " + std::string(id) +
                        "\r\n\r\n");
  }
  // A heard sentence; when the think pass outlasts the first wait, later seconds collect it.
  Answer hear(std::string_view sentence, std::string_view sender = "Alice") {
    Answer answer = module->send("GET Sentence SHIORI/2.2\r\nSender: " + std::string(sender) +
                                 "\r\nAge: 0\r\nSentence: " + std::string(sentence) +
                                 "\r\nSecurityLevel: external\r\n\r\n");
    for (int i = 0; answer.status == 204 && i < 2000; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      answer = event("OnSecondChange", {"0", "0"});
    }
    return answer;
  }

  // A heard sentence answered at once. An answer that comes late (thinking took over half a
  // second) has lost the sentence, and the sample asks for it again: so it is said again.
  Answer answerAtOnce(std::string_view sentence, std::string_view sender = "Alice") {
    Answer answer;
    for (int tries = 0; tries < 5; ++tries) {
      answer = hear(sentence, sender);
      if (answer.value.find(sjis("もう一回言って")) == std::string::npos) return answer;
    }
    ADD_FAILURE() << "no answer at once to " << utf8(std::string(sentence));
    return answer;
  }

  std::unique_ptr<TempGhost> ghost;
  std::unique_ptr<CurrentDirectory> cwd;
  std::unique_ptr<Module> module;
};

#define EXPECT_NO_REPORT(answer, what)                                                   \
  EXPECT_EQ((answer).raw.find(kErrorMark), std::string::npos)                            \
      << (what) << "\n" << utf8((answer).raw)

// ---- (a) the sample itself -----------------------------------------------------------------

TEST_F(SampleGhostTest, KnowledgeFilesReadCleanlyAndCoverTheEvents) {
  const SampleKnowledge knowledge = readSampleKnowledge();
  EXPECT_TRUE(knowledge.problems.empty()) << ::testing::PrintToString(knowledge.problems);
  for (const char* token :
       {"OnZelkaFreeTalk", "OnZelkaCommunicate", "OnZelkaCommunicateTimeout",
        "OnZelkaListenTimeout", "OnZelkaBodyTouch", "OnZelkaReflexFirstInitialize",
        "OnZelkaReflexInitialize", "OnZelkaGetResource", "OnBoot", "OnClose", "OnSurfaceChange",
        "OnMinuteChange", "OnChoiceSelect"}) {
    EXPECT_NE(knowledge.base.count(token), 0u) << token;
  }
  const bool complementedEntry =
      std::any_of(knowledge.base.begin(), knowledge.base.end(),
                  [](const auto& pair) { return pair.second.source.ends_with(".tlc"); });
  EXPECT_TRUE(complementedEntry);

  // The complemented file is the scrambled form of its plain source, kept outside the vendor
  // directory so that it is not read twice.
  std::string scrambled;
  ASSERT_TRUE(scrambleKnowledgeText(readFile(kSampleDir / "source" / "secret.tlk"), scrambled));
  EXPECT_EQ(scrambled, readFile(kSampleDir / "vendor" / "secret.tlc"));
  EXPECT_FALSE(fs::exists(kSampleDir / "vendor" / "secret.tlk"));

  // Every token named as a conditional-else exists.
  for (const auto& [key, entry] : knowledge.base) {
    if (!entry.conditionalElse.empty()) {
      EXPECT_NE(knowledge.base.count(entry.conditionalElse), 0u) << utf8(entry.conditionalElse);
    }
  }
}

// Scripts that read no event reference, and every condition, as a GET Word.
TEST_F(SampleGhostTest, EveryScriptAndConditionExpandsWithoutAnErrorReportAsAWord) {
  const SampleKnowledge knowledge = readSampleKnowledge();
  ASSERT_FALSE(knowledge.base.empty());
  for (const auto& [key, entry] : knowledge.base) {
    const std::string where = entry.source + " " + utf8(key) + ": " + utf8(entry.script);
    if (entry.script.find("%ref") == std::string::npos) {
      // Several runs, so that random choices inside a script take different ways.
      for (int run = 0; run < 6; ++run) {
        const Answer answer = word(entry.script);
        EXPECT_TRUE(answer.status == 200 || answer.status == 204) << where;
        EXPECT_NO_REPORT(answer, where);
      }
    }
    if (entry.conditional != "1") {
      const Answer answer = word(entry.conditional);
      EXPECT_EQ(answer.status, 200) << where << " / " << utf8(entry.conditional);
      EXPECT_NO_REPORT(answer, where + " / " + utf8(entry.conditional));
    }
  }
}

// Writes a script back as knowledge file lines: a slash outside double quotes is escaped, so
// that a "//" the reader once unescaped is not taken for a comment.
std::string asKnowledgeLines(std::string_view script) {
  std::string out;
  bool quoted = false;
  for (std::size_t i = 0; i < script.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(script[i]);
    if (isLeadByte(c) && i + 1 < script.size()) {
      out += script[i];
      out += script[++i];
      continue;
    }
    if (c == '"') quoted = !quoted;
    if (c == '/' && !quoted) out += '\\';
    out += script[i];
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// Every script as the event it answers, with the references a host sends for it: each entry
// is filed again under its own token behind a probe condition, so exactly that script runs.
TEST_F(SampleGhostTest, EveryScriptExpandsWithoutAnErrorReportInItsEvent) {
  const SampleKnowledge knowledge = readSampleKnowledge();
  std::vector<KnowledgeEntry> entries;
  std::string probes = "[ZELKA KNOWLEDGE 2.0]\n";
  for (const auto& [key, entry] : knowledge.base) {
    probes += "{\ntoken: " + entry.token + "\nconditional: __probe == " +
              std::to_string(entries.size()) + "\nscript: " + asKnowledgeLines(entry.script) +
              "\n}\n";
    entries.push_back(entry);
  }
  stop();
  for (const auto& file : fs::directory_iterator(ghost->path("vendor"))) {
    const std::string extension = file.path().extension().string();
    if (extension == ".tlk" || extension == ".tlc") fs::remove(file.path());
  }
  ghost->write("vendor/probes.tlk", probes);
  start();
  module->send("NOTIFY OtherGhostName SHIORI/2.3\r\nGhost: Mina\r\nGhostEx: Guest\r\n\r\n");

  const std::map<std::string, std::vector<std::string>> references = {
      {"OnZelkaFreeTalk", {"1"}},
      {"OnChoiceSelect", {sjis("topic/食物/食べ物")}},
      {"OnZelkaBodyTouch", {"100", "120", "0", "0", "Head", "3"}},
      {"OnZelkaListenTimeout", {"food"}},
      {"OnMinuteChange", {"3", "0"}},
      {"OnSurfaceChange", {"5", "10"}},
  };
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const KnowledgeEntry& entry = entries[i];
    const std::string where = entry.source + " " + utf8(entry.token) + ": " + utf8(entry.script);
    const auto found = references.find(entry.token);
    // The state the talk about the favourite food is conditioned on.
    EXPECT_EQ(talkOf("\\formula[__probe = " + std::to_string(i) + "]" +
                     sjis("\\formula[好きな食べ物 = \"カレー\"]")),
              "");
    for (int run = 0; run < 6; ++run) {
      const Answer answer =
          event(entry.token, found == references.end() ? std::vector<std::string>{}
                                                       : found->second);
      EXPECT_TRUE(answer.status == 200 || answer.status == 204) << where;
      EXPECT_NO_REPORT(answer, where);
      // Only scripts that assign and say nothing may stay silent, and those that hand over to
      // a token (whose own entries here wait for their probe).
      const bool maySayNothing = entry.script.starts_with("\\formula") ||
                                 entry.script.find("%token") != std::string::npos;
      if (!maySayNothing) {
        EXPECT_EQ(answer.status, 200) << where;
      }
    }
  }
}

TEST_F(SampleGhostTest, ReflexEventsCountTheStartsAndBootGreetsAccordingly) {
  EXPECT_EQ(talkOf(sjis("%(int)[起動回数]")), "1");
  const Answer first = event("OnBoot");
  EXPECT_EQ(first.status, 200);
  EXPECT_NO_REPORT(first, "OnBoot");
  EXPECT_NE(first.value.find(sjis("はじめまして")), std::string::npos) << utf8(first.value);

  // The surface is remembered through the reflex file; the closing talk may mention it.
  EXPECT_EQ(event("OnSurfaceChange", {"7", "10"}).status, 204);
  const Answer close = event("OnClose");
  EXPECT_EQ(close.status, 200);
  EXPECT_NO_REPORT(close, "OnClose");
  stop();
  start();

  EXPECT_EQ(talkOf(sjis("%(int)[起動回数]")), "2");
  EXPECT_EQ(talkOf(sjis("%(int)[最後の表情]")), "7");
  for (const char* name : {"OnBoot", "OnGhostChanged"}) {  // the second is renamed to the first
    const Answer again = event(name);
    EXPECT_EQ(again.status, 200) << name;
    EXPECT_NO_REPORT(again, name);
    EXPECT_NE(again.value.find(sjis("2回目")), std::string::npos) << utf8(again.value);
  }
}

TEST_F(SampleGhostTest, DictionaryIsImportedAndReachesTheCategoryElements) {
  EXPECT_FALSE(ghost->exists("vendor/words.mem"));
  EXPECT_TRUE(ghost->exists("vendor/learned/words.mem"));

  const Dictionary dictionary = readSampleDictionary();
  ASSERT_FALSE(dictionary.empty());
  struct Row {
    const char* script;
    const char* category;  // the result is one of the words under it
  };
  const Row rows[] = {
      {"%ms", "人名"},           {"%me", "食物"},          {"%mp", "地名"},
      {"%mh", "店名"},           {"%mt", "技"},            {"%m?", "非限定"},
      {"%me[果物]", "果物"},     {"%dms[麺類]", "麺類"},   {"%month[季節]", "季節"},
      {"%week[曜日]", "曜日"},   {"%hour[時間帯]", "時間帯"},
  };
  for (const Row& row : rows) {
    const std::set<std::string> expected = wordsUnder(dictionary, row.category);
    ASSERT_FALSE(expected.empty()) << row.category;
    for (int run = 0; run < 10; ++run) {
      const std::string talk = utf8(talkOf(sjis(row.script)));
      EXPECT_EQ(expected.count(talk), 1u) << row.script << " gave " << talk;
    }
  }
  // Unification picks the line the number belongs to.
  EXPECT_EQ(utf8(talkOf(sjis("%unify[季節,03]"))), "春");
  EXPECT_EQ(utf8(talkOf(sjis("%unify[曜日,0]"))), "日曜日");
  EXPECT_EQ(utf8(talkOf(sjis("%unify[時間帯,23]"))), "夜");
  // Excluded words are never chosen.
  for (int run = 0; run < 10; ++run) {
    const std::string talk = utf8(talkOf(sjis("%me[(\"食物\")-(\"果物\",\"麺類\")]")));
    EXPECT_TRUE(talk == "カレー" || talk == "おにぎり" || talk == "たこ焼き") << talk;
  }
}

TEST_F(SampleGhostTest, FreeTalkAndHostEventsTalkWithoutAnErrorReport) {
  for (int i = 0; i < 60; ++i) {
    const Answer talk = freeTalk();
    EXPECT_EQ(talk.status, 200);
    EXPECT_NO_REPORT(talk, "free talk");
  }
  // Every free talk is counted, whichever script was chosen.
  EXPECT_EQ(talkOf(sjis("%(int)[おしゃべり回数]")), "60");
  // With another character present the free talk's Reference0 is 1.
  module->send("NOTIFY OtherGhostName SHIORI/2.3\r\nGhost: Mina\r\nGhostEx: Guest\r\n\r\n");
  EXPECT_EQ(talkOf("\\ti[2]"), "");
  int talks = 0;
  for (int i = 0; i < 60; ++i) {
    const Answer second = event("OnSecondChange", {"1", "0"});
    EXPECT_NO_REPORT(second, "free talk on a timer");
    if (second.status == 200) ++talks;
    if (talkOf("%(int)[__TalkInterval]") != "2") {
      EXPECT_EQ(talkOf("\\ti[2]"), "");
    }
  }
  EXPECT_GE(talks, 20);

  for (int minute = 0; minute < 3; ++minute) {
    const Answer answer = event("OnMinuteChange", {"3", "0"});
    EXPECT_TRUE(answer.status == 200 || answer.status == 204);
    EXPECT_NO_REPORT(answer, "OnMinuteChange");
  }
  // The talk names the topic, never the category behind it.
  struct Topic {
    const char* category;
    const char* name;
  };
  for (const Topic& topic : {Topic{"食物", "食べ物"}, Topic{"地名", "場所"}, Topic{"人名", "人"}}) {
    for (int i = 0; i < 4; ++i) {
      const Answer choice = event(
          "OnChoiceSelect", {sjis(std::string("topic/") + topic.category + "/" + topic.name)});
      EXPECT_EQ(choice.status, 200);
      EXPECT_NO_REPORT(choice, "OnChoiceSelect");
      EXPECT_NE(choice.value.find(sjis(topic.name)), std::string::npos) << utf8(choice.value);
      EXPECT_EQ(choice.value.find(sjis(topic.category)), std::string::npos) << utf8(choice.value);
    }
  }
  EXPECT_EQ(event("OnChoiceSelect", {"other"}).status, 204);
  for (int i = 0; i < 10; ++i) EXPECT_NO_REPORT(event("OnClose"), "OnClose");
}

TEST_F(SampleGhostTest, HeardSentencesAreAnsweredWithWhatWasHeard) {
  const Answer greeting = hear(sjis("こんにちは、ミナ"));
  EXPECT_EQ(greeting.status, 200);
  EXPECT_NO_REPORT(greeting, "greeting");
  EXPECT_NE(greeting.value.find("Alice"), std::string::npos) << utf8(greeting.value);
  EXPECT_NE(greeting.raw.find("\r\nTo: Alice\r\nAge: 1\r\n"), std::string::npos);
  EXPECT_EQ(talkOf(sjis("%(int)[好感度]")), "1");

  for (const char* sentence : {"おなかすいた", "おなかすいたなあ", "今日はいい天気ですね",
                               "100% \\ti[1]", "ab\\\"cd"}) {
    const Answer answer = hear(sjis(sentence));
    EXPECT_EQ(answer.status, 200) << sentence;
    EXPECT_NO_REPORT(answer, sentence);
  }

  // A question opens a listen; the answer is remembered and closes it.
  EXPECT_EQ(talkOf("\\formula[__Listen_id = \"food\"]"), "");
  const Answer food = hear(sjis("カレー"));
  EXPECT_NO_REPORT(food, "food");
  EXPECT_NE(food.value.find(sjis("カレー！")), std::string::npos) << utf8(food.value);
  EXPECT_EQ(talkOf(sjis("%reflex[好きな食べ物]")), sjis("カレー"));
  EXPECT_EQ(talkOf("%reflex[__Listen_id]"), "none");

  const Answer late = event("OnZelkaCommunicateTimeout");
  EXPECT_EQ(late.status, 200);
  EXPECT_NO_REPORT(late, "OnZelkaCommunicateTimeout");
}

// The answer speaks to the character who spoke, by name, and never names the user or the host.
TEST_F(SampleGhostTest, GreetingNamesOnlyACharacter) {
  struct Row {
    const char* sender;
    bool named;
  };
  for (const Row& row : {Row{"Alice", true}, Row{"User", false}, Row{"SSP", false}}) {
    const Answer greeting = answerAtOnce(sjis("こんにちは"), row.sender);
    EXPECT_EQ(greeting.status, 200) << row.sender;
    EXPECT_NE(greeting.value.find(sjis("あいさつありがとう")), std::string::npos)
        << utf8(greeting.value);
    EXPECT_EQ(greeting.value.find(row.sender + sjis("さん、")) != std::string::npos, row.named)
        << utf8(greeting.value);
    EXPECT_EQ(greeting.value.find(sjis("さん")) != std::string::npos, row.named)
        << utf8(greeting.value);
  }
}

// The favourite-food question takes only a food's name for its answer: a refusal or a
// question, and a whole sentence, are asked again once and then let go.
TEST_F(SampleGhostTest, FavouriteFoodQuestionTakesOnlyAName) {
  struct Row {
    std::vector<const char*> answers;
    const char* remembered;  // the favourite food afterwards, "" for none
    const char* listen;      // __Listen_id afterwards
  };
  const Row rows[] = {
      {{"カレー"}, "カレー", "none"},
      {{"わからない"}, "", "food"},
      {{"わからない", "ぎょうざ"}, "ぎょうざ", "none"},
      {{"知らない", "なにそれ？"}, "", "none"},
      {{"ラーメンが好きです", "ラーメン"}, "ラーメン", "none"},
      {{"ひみつ", "うどんが好きだよ"}, "", "none"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(talkOf(sjis("\\formula[好きな食べ物 = \"\"]\\formula[聞き直し = 0]"
                          "\\formula[__Listen_id = \"food\"]")),
              "");
    std::string where;
    for (const char* answer : row.answers) {
      where += std::string(answer) + " ";
      const Answer heard = answerAtOnce(sjis(answer));
      EXPECT_EQ(heard.status, 200) << where;
      EXPECT_NO_REPORT(heard, where);
    }
    EXPECT_EQ(utf8(talkOf(sjis("%reflex[好きな食べ物]"))), row.remembered) << where;
    EXPECT_EQ(talkOf("%reflex[__Listen_id]"), row.listen) << where;
  }
}

// A word heard as an answer is learned and comes back in a later answer through association:
// the talk says it, the word index and the concept network hold it, and reflex.txt keeps it.
TEST_F(SampleGhostTest, HeardWordIsLearnedAndUsedAgain) {
  const std::string word = sjis("ぎょうざ");
  stop();  // the stores as the load left them: the dictionary, no word heard
  for (const char* store : {"_learning/index.xml", "_learning/neuron.xml"}) {
    ASSERT_TRUE(ghost->exists(store)) << store;
    EXPECT_EQ(readFile(ghost->path(store)).find(word), std::string::npos) << store;
  }
  start();

  const Answer question = answerAtOnce(sjis("おなかすいた"));
  EXPECT_NE(question.value.find(sjis("Aliceさん、好きな食べ物")), std::string::npos)
      << utf8(question.value);
  EXPECT_EQ(talkOf("%reflex[__Listen_id]"), "food");
  const Answer learned = answerAtOnce(word);
  EXPECT_NE(learned.value.find(word + sjis("！")), std::string::npos) << utf8(learned.value);
  const Answer usedAgain = answerAtOnce(sjis("おなかすいた"));
  EXPECT_NE(usedAgain.value.find(word + sjis("、食べに行く")), std::string::npos)
      << utf8(usedAgain.value);
  stop();

  EXPECT_NE(readFile(ghost->path("_learning/index.xml")).find("<Index name=\"" + word + "\""),
            std::string::npos);
  EXPECT_NE(
      readFile(ghost->path("_learning/neuron.xml")).find("<Expression name=\"" + word + "\""),
      std::string::npos);
  EXPECT_NE(readFile(ghost->path("_learning/reflex.txt"))
                .find(sjis("好きな食べ物") + "\x01\"" + word + "\""),
            std::string::npos);
}

// Figures that vary from talk to talk read naturally.
TEST_F(SampleGhostTest, RandomFiguresReadNaturally) {
  const SampleKnowledge knowledge = readSampleKnowledge();
  const auto weather =
      std::find_if(knowledge.base.begin(), knowledge.base.end(), [](const auto& pair) {
        return pair.second.script.find(sjis("降水確率")) != std::string::npos;
      });
  ASSERT_NE(weather, knowledge.base.end());
  std::set<std::string> seen;
  for (int run = 0; run < 60; ++run) {
    const std::string talk = utf8(talkOf(weather->second.script));
    std::smatch figure;
    ASSERT_TRUE(std::regex_search(talk, figure, std::regex("降水確率は([0-9]+)%"))) << talk;
    EXPECT_TRUE(std::regex_match(figure[1].str(), std::regex("[1-9]0"))) << talk;
    seen.insert(figure[1].str());
  }
  EXPECT_GE(seen.size(), 5u);
}

TEST_F(SampleGhostTest, UnansweredQuestionTimesOut) {
  EXPECT_EQ(talkOf("\\ti[0]"), "");  // no free talk in between
  EXPECT_EQ(talkOf("\\formula[__Listen_id = \"food\"]"), "");
  Answer answer;
  int seconds = 0;
  while (seconds < 100 && answer.status != 200) {
    answer = event("OnSecondChange", {"0", "0"});
    ++seconds;
  }
  EXPECT_EQ(seconds, 16);  // the configured listen_wait
  EXPECT_NO_REPORT(answer, "listen time-out");
  EXPECT_NE(answer.value.find(sjis("返事がない")), std::string::npos) << utf8(answer.value);
  EXPECT_EQ(talkOf("%reflex[__Listen_id]"), "none");

  const Answer other = event("OnZelkaListenTimeout", {"other"});
  EXPECT_EQ(other.status, 200);
  EXPECT_NO_REPORT(other, "listen time-out, other id");
}

TEST_F(SampleGhostTest, BodyTouchAnswersOnTheThirdAndTenthCount) {
  auto move = [&](const std::string& part) {
    return event("OnMouseMove", {"100", "120", "0", "0", part});
  };
  struct Row {
    const char* part;
    int moves;
    std::vector<int> talkAt;  // 1-based moves that talk
  };
  const Row rows[] = {
      {"Head", 4, {4}},
      {"Bust", 12, {4, 11}},
      {"Face", 5, {4}},
  };
  for (const Row& row : rows) {
    std::vector<int> talked;
    for (int k = 1; k <= row.moves; ++k) {
      const Answer answer = move(row.part);
      EXPECT_NO_REPORT(answer, row.part);
      if (answer.status == 200) talked.push_back(k);
    }
    EXPECT_EQ(talked, row.talkAt) << row.part;
  }
  EXPECT_EQ(talkOf(sjis("%(int)[好感度]")), "0");  // head +1, bust -1
}

TEST_F(SampleGhostTest, ResourceStringsAnswerByIdentifier) {
  const Answer home = resource("homeurl");
  EXPECT_EQ(home.status, 200);
  EXPECT_EQ(home.value, "https://example.org/mina/");
  for (const char* id : {"username", "sakura.recommendbuttoncaption"}) {
    const Answer answer = resource(id);
    EXPECT_EQ(answer.status, 200) << id;
    EXPECT_FALSE(answer.value.empty()) << id;
    EXPECT_NO_REPORT(answer, id);
  }
  EXPECT_EQ(resource("no.such.resource").status, 204);
}

// ---- (b) the guide's examples --------------------------------------------------------------

struct GuideExample {
  std::string script;    // UTF-8, one line
  std::optional<std::string> exact;
  std::optional<std::string> pattern;
  int line = 0;
};

// Within a zelka-script block every line is a script, and a line beginning with "→" (the talk
// it gives) or "≈" (a regular expression the talk matches) belongs to the script above it.
std::vector<GuideExample> guideExamples(const std::vector<GuideBlock>& blocks) {
  static const std::string kArrow = "→";
  static const std::string kAbout = "≈";
  std::vector<GuideExample> examples;
  for (const GuideBlock& block : blocks) {
    if (block.language != "zelka-script") continue;
    std::istringstream in(block.text);
    std::string line;
    int number = block.line;
    while (std::getline(in, line)) {
      ++number;
      if (line.empty()) continue;
      const bool exact = line.starts_with(kArrow);
      const bool about = line.starts_with(kAbout);
      if (!exact && !about) {
        examples.push_back({line, std::nullopt, std::nullopt, number});
        continue;
      }
      if (examples.empty()) continue;
      std::string rest = line.substr(exact ? kArrow.size() : kAbout.size());
      if (rest.starts_with(" ")) rest.erase(0, 1);
      (exact ? examples.back().exact : examples.back().pattern) = rest;
    }
  }
  return examples;
}

std::string guideText() {
  const std::string text = readFile(kGuidePath);
  EXPECT_FALSE(text.empty()) << kGuidePath;
  return text;
}

TEST_F(SampleGhostTest, GuideScriptExamplesGiveTheShownTalk) {
  const std::vector<GuideExample> examples = guideExamples(guideBlocks(guideText()));
  ASSERT_GE(examples.size(), 80u);
  for (const GuideExample& example : examples) {
    const std::string where = "docs/authoring.md:" + std::to_string(example.line) + ": " +
                              example.script;
    const std::string script = sjis(example.script);
    ASSERT_EQ(utf8(script), example.script) << where << " (not Shift_JIS)";
    const Answer answer = word(script);
    const std::string talk = utf8(finalTalk(answer.value));
    if (example.exact) {
      EXPECT_EQ(talk, *example.exact) << where;
    } else {
      EXPECT_NO_REPORT(answer, where);
      if (example.pattern) {
        EXPECT_TRUE(std::regex_match(talk, std::regex(*example.pattern))) << where << " gave "
                                                                          << talk;
      }
    }
  }
}

TEST_F(SampleGhostTest, GuideKnowledgeAndConfigurationExamplesRead) {
  const std::vector<GuideBlock> blocks = guideBlocks(guideText());
  const SampleKnowledge sample = readSampleKnowledge();
  int knowledgeBlocks = 0;
  int configurations = 0;
  for (const GuideBlock& block : blocks) {
    const std::string where = "docs/authoring.md:" + std::to_string(block.line);
    if (block.language == "zelka-knowledge") {
      ++knowledgeBlocks;
      std::string text = sjis(block.text);
      if (!text.starts_with("[ZELKA KNOWLEDGE 2.0]\n")) text = "[ZELKA KNOWLEDGE 2.0]\n" + text;
      ghost->write("example.tlk", text);
      KnowledgeBase base;
      KnowledgeFileReport report;
      ASSERT_TRUE(parseKnowledgeFile(u"OnZelkaFreeTalk", ghost->path("example.tlk"),
                                     kKnowledgeFileHeader, false, base, &report))
          << where;
      EXPECT_GT(report.entriesAdded, 0u) << where;
      EXPECT_EQ(report.entriesDropped, 0u) << where;
      EXPECT_EQ(report.unclosedBraces, 0u) << where;
      // Every excerpt is the sample's own talk, which the tests above run in its events.
      for (const auto& [key, entry] : base) {
        const auto [first, last] = sample.base.equal_range(key);
        const bool inSample = std::any_of(first, last, [&](const auto& pair) {
          const KnowledgeEntry& own = pair.second;
          return own.script == entry.script && own.conditional == entry.conditional &&
                 own.conditionalElse == entry.conditionalElse;
        });
        EXPECT_TRUE(inSample) << where << " " << utf8(key) << ": " << utf8(entry.script);
        if (entry.script.find("%ref") == std::string::npos) {
          EXPECT_NO_REPORT(word(entry.script), where + " " + utf8(entry.script));
        }
      }
    } else if (block.language == "xml" &&
               block.text.find("<ZelkaConfiguration>") != std::string::npos) {
      ++configurations;
      // The guide shows the sample's own file.
      EXPECT_EQ(sjis(block.text), readFile(kSampleDir / "zelkaconf.xml")) << where;
      TempGhost scratch(sjis(block.text));
      ZelkaConfig config;
      EXPECT_TRUE(config.read(toWide(scratch.dir()))) << where;
      EXPECT_FALSE(config.profile(u"birthday").empty()) << where;
    }
  }
  EXPECT_GE(knowledgeBlocks, 5);
  EXPECT_GE(configurations, 1);
}

}  // namespace
}  // namespace zelka
