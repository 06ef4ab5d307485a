// The script fuzz target's fixture, shared with the benchmark and the regression test that
// replay its findings: a small variable table, a few knowledge entries that call one another,
// references and think segments of an event, a configuration with categories, and a stand-in
// for the learned knowledge. runScript expands one script on a fresh engine over it, as one
// request would, at the given run level, logging into the fixture's diagnostic log.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "config/zelka_config.h"
#include "fuzz_support.h"
#include "platform/text_codec.h"
#include "script/script_engine.h"
#include "shiori/diagnostic_log.h"

namespace zelka::fuzz {

// Answers from the learned knowledge: a word made from the argument, so that results can
// carry meta elements back into the rescan.
class FakeQueries : public KnowledgeQueries {
 public:
  bool associateCall(const std::u16string& argument, std::u16string& word) override {
    if (argument.empty()) return false;
    word = argument.size() > 3 ? argument.substr(argument.size() / 2) : argument;
    return true;
  }
  bool unifyCall(const std::u16string& argument, std::u16string& word, bool swap) override {
    if (argument.empty()) return false;
    word = swap ? argument : argument.substr(0, (argument.size() + 1) / 2);
    return true;
  }
  int thinkNow(const std::u16string&, const std::u16string&, const std::u16string& text,
               std::deque<std::u16string>& segments) override {
    for (std::size_t i = 0; i < text.size() && i < 64; i += 2) segments.push_back(text.substr(i, 2));
    return text.size() % 3 + 1;
  }
  int acceptThinking(int level) override { return level >= 1 ? level : 1; }
  int thinkResult() const override { return 1; }
};

class ScriptFixture {
 public:
  static constexpr int kRunLevel = 4;

  ScriptFixture() {
    writeFile(scratch_.file("zelkaconf.xml"), kConfig);
    config_.read(toWide(scratch_.path()));
    log_.open(logPath());
  }

  DiagnosticLog& log() { return log_; }
  std::string logPath() const { return scratch_.file("zelka.log"); }

  // Expands the script as one request would (the log's per-request allowance starts afresh);
  // answers the finished talk.
  std::string runScript(std::string_view script, int runLevel = kRunLevel) {
    FormulaEvaluator evaluator;
    VariableTable& vars = evaluator.variables();
    vars.setVariable("n", "3");
    vars.setVariable("word", "abc");
    vars.setVariable("self", "%reflex[self]");
    vars.setVariable("__Sentence", "hello there");
    vars.setVariable("__Here", "Anna\x81\x41" "Bob\x81\x41");
    vars.setVariable("__Username", "user");
    vars.setVariable("__TalkInterval", "120");
    vars.setVariable("__Security_level", "local");

    KnowledgeBase knowledge;
    addEntry(knowledge, "A", "a%token[B]");
    addEntry(knowledge, "B", "b%if(n > 2){big}else{small}");
    addEntry(knowledge, "loop", "%token[loop]");
    addEntry(knowledge, "guarded", "g", "n = 0", "guarded");
    addEntry(knowledge, "guarded", "h", "word", "A");

    EventContext event;
    event.references = {{"12", "1"}, {"part"}, {}, {"%ref0"}};
    event.exhValue = 12;
    event.segments = {u"he", u"llo"};

    Mt19937 random(12345u);
    ScriptEngine engine(evaluator, knowledge, event, random, log_);
    engine.setRunLevel(runLevel);
    engine.setConfig(&config_);
    engine.setKnowledgeQueries(&queries_);
    engine.setClock([] { return std::int64_t{1'700'000'000}; });

    log_.beginRequest();
    std::string out;
    engine.runScript(script, out);
    log_.flush();
    return ScriptEngine::stripScriptQuotes(out);
  }

 private:
  static constexpr char kConfig[] =
      "<?xml version='1.0' encoding='Shift_JIS'?>\n"
      "<ZelkaConfiguration>\n"
      "  <GhostProfile birthday=\"2001/05/03\" talk_interval=\"120\"/>\n"
      "  <RunEnvironment runlevel=\"4\"/>\n"
      "  <DefaultCategory><Define type=\"ms\" category=\"person\"/>"
      "<Define type=\"mz\" category=\"%ms\"/></DefaultCategory>\n"
      "</ZelkaConfiguration>\n";

  static void addEntry(KnowledgeBase& base, const char* token, const char* script,
                       const char* conditional = "1", const char* conditionalElse = "") {
    KnowledgeEntry entry;
    entry.token = token;
    entry.emotionLimit = 0;
    entry.script = script;
    entry.source = "fuzz.tlk";
    entry.conditional = conditional;
    entry.conditionalElse = conditionalElse;
    base.emplace(token, entry);
  }

  ScratchDir scratch_;
  ZelkaConfig config_;
  DiagnosticLog log_;
  FakeQueries queries_;
};

}  // namespace zelka::fuzz
