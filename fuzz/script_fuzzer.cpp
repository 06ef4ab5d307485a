// Fuzz target: a script through ScriptEngine::runScript (parser, expansion with rescan,
// conditional chains, every meta element) on a small variable table, a few knowledge
// entries that call one another, references and think segments of an event, a
// configuration with categories, and a stand-in for the learned knowledge.
#include <cstdint>
#include <deque>
#include <string>

#include "config/zelka_config.h"
#include "fuzz_support.h"
#include "platform/text_codec.h"
#include "script/script_engine.h"
#include "shiori/diagnostic_log.h"

namespace {

// Answers from the learned knowledge: a word made from the argument, so that results can
// carry meta elements back into the rescan.
class FakeQueries : public zelka::KnowledgeQueries {
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

constexpr char kConfig[] =
    "<?xml version='1.0' encoding='Shift_JIS'?>\n"
    "<ZelkaConfiguration>\n"
    "  <GhostProfile birthday=\"2001/05/03\" talk_interval=\"120\"/>\n"
    "  <RunEnvironment runlevel=\"4\"/>\n"
    "  <DefaultCategory><Define type=\"ms\" category=\"person\"/>"
    "<Define type=\"mz\" category=\"%ms\"/></DefaultCategory>\n"
    "</ZelkaConfiguration>\n";

struct Fixture {
  Fixture() {
    zelka::fuzz::writeFile(scratch.file("zelkaconf.xml"), kConfig);
    config.read(zelka::toWide(scratch.path()));
  }
  zelka::fuzz::ScratchDir scratch;
  zelka::ZelkaConfig config;
  zelka::DiagnosticLog log;
  FakeQueries queries;
  std::size_t runs = 0;
};

Fixture& fixture() {
  static Fixture* f = new Fixture();   // lives to the end of the process
  return *f;
}

void addEntry(zelka::KnowledgeBase& base, const char* token, const char* script,
              const char* conditional = "1", const char* conditionalElse = "") {
  zelka::KnowledgeEntry entry;
  entry.token = token;
  entry.emotionLimit = 0;
  entry.script = script;
  entry.source = "fuzz.tlk";
  entry.conditional = conditional;
  entry.conditionalElse = conditionalElse;
  base.emplace(token, entry);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Fixture& f = fixture();
  if (f.runs++ % 1024 == 0) f.log.open(f.scratch.file("zelka.log"));

  zelka::FormulaEvaluator evaluator;
  zelka::VariableTable& vars = evaluator.variables();
  vars.setVariable("n", "3");
  vars.setVariable("word", "abc");
  vars.setVariable("self", "%reflex[self]");
  vars.setVariable("__Sentence", "hello there");
  vars.setVariable("__Here", "Anna\x81\x41" "Bob\x81\x41");
  vars.setVariable("__Username", "user");
  vars.setVariable("__TalkInterval", "120");
  vars.setVariable("__Security_level", "local");

  zelka::KnowledgeBase knowledge;
  addEntry(knowledge, "A", "a%token[B]");
  addEntry(knowledge, "B", "b%if(n > 2){big}else{small}");
  addEntry(knowledge, "loop", "%token[loop]");
  addEntry(knowledge, "guarded", "g", "n = 0", "guarded");
  addEntry(knowledge, "guarded", "h", "word", "A");

  zelka::EventContext event;
  event.references = {{"12", "1"}, {"part"}, {}, {"%ref0"}};
  event.exhValue = 12;
  event.segments = {u"he", u"llo"};

  zelka::Mt19937 random(12345u);
  zelka::ScriptEngine engine(evaluator, knowledge, event, random, f.log);
  engine.setRunLevel(4);
  engine.setConfig(&f.config);
  engine.setKnowledgeQueries(&f.queries);
  engine.setClock([] { return std::int64_t{1'700'000'000}; });

  std::string out;
  engine.runScript(zelka::fuzz::asText(data, size), out);
  const std::string talk = zelka::ScriptEngine::stripScriptQuotes(out);
  (void)talk;
  return 0;
}
