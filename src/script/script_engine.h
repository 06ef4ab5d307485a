// The script engine: the interpreter (parse, element tree, expansion, conditional chain,
// rescan, error report), the meta elements and talk selection. It works on state the brain
// owns and hands in: the formula evaluator with the variables, the knowledge base, the event
// context, the random generator and a log sink; the configuration and the learned
// knowledge are attached once they exist.
//
// One class, implemented in three files by concept: script_engine.cpp (expansion, the error
// report, the talk interval), meta_elements.cpp (the meta element table, a friend) and
// talk_selection.cpp (candidates by condition, the random draw, running the chosen talk).
//
// Every recursion a script can drive (the rescan of results, a token talking its own token,
// a conditional-else naming its own token) runs under one nesting bound and two budgets per
// outermost call: one of steps (elements expanded, entries examined) and one of text (bytes
// parsed and bytes produced, counted at every level they pass through, which is what the
// work costs). Past any of them, the element concerned yields its error report and the call
// returns, so that any script answers in bounded time.
//
// Every element that yields its error report is also told to the author through
// ScriptProblems (script_problems.h), with the knowledge file and line of the entry that runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "script/event_context.h"
#include "script/formula_evaluator.h"
#include "script/knowledge_base.h"
#include "script/knowledge_queries.h"
#include "script/run_level.h"
#include "script/script_parser.h"
#include "script/script_problems.h"
#include "util/mt19937.h"

namespace zelka {

class LogSink;
class ZelkaConfig;

// One candidate of talk selection: the (key, entry) pair of the knowledge base.
using TalkCandidate = const KnowledgeBase::value_type*;
using CandidateList = std::vector<TalkCandidate>;

class ScriptEngine {
 public:
  // Nested expansions (elements, rescans, conditional-else collections) allowed at once.
  static constexpr int kMaxNesting = 100;
  // Elements expanded and entries examined per outermost call, by default, and bytes parsed
  // and produced: far above what any authored talk needs, low enough that a runaway script
  // ends within a few tens of milliseconds.
  static constexpr std::size_t kDefaultWorkBudget = 50'000;
  static constexpr std::size_t kDefaultTextBudget = 1 << 20;

  ScriptEngine(FormulaEvaluator& evaluator, KnowledgeBase& knowledge, EventContext& event,
               Mt19937& random, LogSink& log);

  void setRunLevel(int runLevel) { runLevel_ = RunLevel(runLevel); }
  void setConfig(const ZelkaConfig* config) { config_ = config; }
  void setKnowledgeQueries(KnowledgeQueries* queries) { queries_ = queries; }
  // The clock the date elements read (seconds since the epoch); the system clock by default.
  void setClock(std::function<std::int64_t()> clock) { clock_ = std::move(clock); }
  void setWorkBudget(std::size_t budget) { workBudget_ = budget; }
  void setTextBudget(std::size_t bytes) { textBudget_ = bytes; }

  // ---- expansion (script_engine.cpp) ----
  // Parses and expands a script; appends the result to out. True when the result is non-empty.
  bool runScript(std::string_view script, std::string& out);
  // The same for a script that no knowledge entry holds; `origin` says what runs it in the
  // reports of its errors ("the GET Word request").
  bool runScript(std::string_view script, std::string& out, std::string_view origin);

  // Expands a parsed list into out (appended). 0 for an empty list (out is emptied), else 1.
  int expandList(const std::vector<ScriptElement>& list, std::string& out,
                 std::uint32_t& counter);
  // Expands one meta element into out (replaced). False after writing an error report.
  bool expandElement(const ScriptElement& element, std::string& out, int& enableSub,
                     std::uint32_t& counter);

  // The final clean-up of a finished talk: \" becomes ", other double quotes vanish.
  static std::string stripScriptQuotes(std::string_view text);

  // Talk interval accessors on "__TalkInterval": read as strtol reads it (0 when missing),
  // written as the decimal number, or stored as given (start-up copies the configured text).
  long talkInterval() const;
  void setTalkInterval(std::uint32_t seconds);
  void setTalkIntervalText(std::string_view text);

  // ---- talk selection (talk_selection.cpp) ----
  // Picks one of the token's entries whose condition holds and runs it.
  // On success replaces out and answers it; otherwise leaves out unchanged, nullopt.
  std::optional<std::string> runTalk(std::string_view token, std::string& out, bool raw);
  // Appends the token's entries whose conditions hold; answers how many were appended.
  std::size_t collectCandidates(std::string_view token, CandidateList& list);
  // 1..n uniformly from the engine's generator; 0 when n is 0.
  std::uint32_t chooseIndex(std::uint32_t n);

  // Where the errors of scripts are told (the list, the vendor directory's name, the counts).
  ScriptProblems& problems() { return problems_; }

 private:
  friend class MetaElementTable;

  // Both answer 0, or the error code of the report written into out.
  int expandElementImpl(const ScriptElement& element, std::string& out, int& enableSub,
                        std::uint32_t& counter);
  int expandChain(const ScriptElement& element, std::string& out, int& enableSub,
                  std::uint32_t& counter);
  // The meta element table (meta_elements.cpp); answers 0 with the result set, or an error
  // code.
  int dispatchMeta(const ScriptElement& element, const std::string& argumentText,
                   const std::string& bodyText, std::uint32_t& counter, std::string& result);
  bool runScriptImpl(std::string_view script, std::string& out);
  std::size_t collectImpl(std::string_view token, CandidateList& list);

  // Evaluates a formula (logging its three texts at run levels 3 and 4).
  std::optional<std::string> evaluateFormula(std::string_view formula, bool logIt);
  void logFormula();

  // Tells the author of an element that yielded its error report. Of the elements that run
  // out of nesting or work, only the first of an outermost call is told: the rest failed
  // for the same reason.
  void elementFailed(const ScriptElement& element, int code, bool exhausted);

  // True when another nested expansion or unit of work is not allowed.
  bool exhausted() const { return nesting_ >= kMaxNesting || budget_ == 0 || textLeft_ == 0; }
  void spend() {
    if (budget_ > 0) --budget_;
  }
  void spendText(std::size_t bytes) { textLeft_ -= bytes < textLeft_ ? bytes : textLeft_; }
  // One level of the recursion the bound counts: an element's expansion, the rescan of its
  // result, a conditional-else collection.
  class Nesting {
   public:
    explicit Nesting(ScriptEngine& engine) : engine_(engine) { ++engine_.nesting_; }
    ~Nesting() { --engine_.nesting_; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;

   private:
    ScriptEngine& engine_;
  };
  // A public entry point; the outermost one refills the work budget on entry and exit.
  class Entry {
   public:
    explicit Entry(ScriptEngine& engine) : engine_(engine) {
      if (engine_.entered_++ == 0) {
        engine_.refill();
        engine_.exhaustionTold_ = false;
      }
    }
    ~Entry() {
      if (--engine_.entered_ == 0) engine_.refill();
    }
    bool outermost() const { return engine_.entered_ == 1; }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

   private:
    ScriptEngine& engine_;
  };

  void refill() {
    budget_ = workBudget_;
    textLeft_ = textBudget_;
  }

  // What runs for the error reports: set for the time an entry's script or conditional, or a
  // described script, runs.
  class OriginScope {
   public:
    OriginScope(ScriptEngine& engine, ScriptOrigin origin)
        : engine_(engine), saved_(std::move(engine.origin_)) {
      engine_.origin_ = std::move(origin);
    }
    ~OriginScope() { engine_.origin_ = std::move(saved_); }
    OriginScope(const OriginScope&) = delete;
    OriginScope& operator=(const OriginScope&) = delete;

   private:
    ScriptEngine& engine_;
    ScriptOrigin saved_;
  };

  FormulaEvaluator& evaluator_;
  KnowledgeBase& knowledge_;
  EventContext& event_;
  Mt19937& random_;
  LogSink& log_;
  const ZelkaConfig* config_ = nullptr;
  KnowledgeQueries* queries_ = nullptr;
  RunLevel runLevel_;
  std::function<std::int64_t()> clock_;
  int nesting_ = 0;
  int entered_ = 0;
  std::size_t workBudget_ = kDefaultWorkBudget;
  std::size_t budget_ = kDefaultWorkBudget;
  std::size_t textBudget_ = kDefaultTextBudget;
  std::size_t textLeft_ = kDefaultTextBudget;
  ScriptProblems problems_;
  ScriptOrigin origin_;
  bool exhaustionTold_ = false;
};

// The error report an element's output becomes when it fails (code 1 or 2). With quoteTags
// every line-break tag is enclosed in double quotes, the form the report keeps through any
// later scan (the final clean-up removes the quotes again).
std::string scriptErrorReport(const ScriptElement& element, int code, bool quoteTags = false);

}  // namespace zelka
