// The script engine: the interpreter (parse, element tree, expansion, conditional chain,
// rescan, error report), the meta elements and talk selection. It works on state the brain
// owns and hands in: the formula evaluator with the variables, the knowledge base, the event
// context, the random generator and the diagnostic log; the configuration and the learned
// knowledge are attached once they exist.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/event_context.h"
#include "script/formula_evaluator.h"
#include "script/knowledge_base.h"
#include "script/knowledge_queries.h"
#include "util/mt19937.h"

namespace zelka {

class DiagnosticLog;
class ZelkaConfig;

class ScriptEngine {
 public:
  ScriptEngine(FormulaEvaluator& evaluator, KnowledgeBase& knowledge, EventContext& event,
               Mt19937& random, DiagnosticLog& log);

  void setRunLevel(int runLevel) { runLevel_ = runLevel; }
  void setConfig(const ZelkaConfig* config) { config_ = config; }
  void setKnowledgeQueries(KnowledgeQueries* queries) { queries_ = queries; }

  // Parses and expands a script; appends the result to out. True when the result is non-empty.
  bool runScript(std::string_view script, std::string& out);

  // Talk selection: picks one of the token's entries whose condition holds and runs it.
  // On success replaces out and answers it; otherwise leaves out unchanged, nullopt.
  std::optional<std::string> runTalk(std::string_view token, std::string& out, bool raw);

  // The final clean-up of a finished talk: \" becomes ", other double quotes vanish.
  static std::string stripScriptQuotes(std::string_view text);

  // Talk interval accessors on "__TalkInterval".
  long talkInterval() const;
  void setTalkInterval(std::uint32_t seconds);

 private:
  // (the interpreter's internals are declared in its own headers)
  friend class ScriptEngineInternals;
  FormulaEvaluator& evaluator_;
  KnowledgeBase& knowledge_;
  EventContext& event_;
  Mt19937& random_;
  DiagnosticLog& log_;
  const ZelkaConfig* config_ = nullptr;
  KnowledgeQueries* queries_ = nullptr;
  int runLevel_ = 0;
};

// Decimal addition of two digit texts (used for "__Age" + 1 and by the rand element).
std::string addDecimalTexts(std::string_view a, std::string_view b);

}  // namespace zelka
