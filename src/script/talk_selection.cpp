// Talk selection, the ScriptEngine members declared under "talk selection" in
// script_engine.h: gathers the entries filed under a token whose conditions hold (a failed
// condition defers to its conditional-else token), draws one at random and runs its script.
#include "script/script_engine.h"

#include <algorithm>
#include <limits>

#include "script/log_sink.h"
#include "util/number_text.h"

namespace zelka {

std::uint32_t ScriptEngine::chooseIndex(std::uint32_t n) {
  if (n == 0) return 0;
  return random_.next() % n + 1;
}

std::size_t ScriptEngine::collectCandidates(std::string_view token, CandidateList& list) {
  Entry guard(*this);
  return collectImpl(token, list);
}

std::size_t ScriptEngine::collectImpl(std::string_view token, CandidateList& list) {
  const auto [first, last] = knowledge_.equal_range(std::string(token));
  std::size_t appended = 0;
  for (auto it = first; it != last; ++it) {
    if (budget_ == 0) break;
    spend();
    const KnowledgeEntry& entry = it->second;
    if (entry.conditional == "1") {
      list.push_back(&*it);
      ++appended;
      continue;
    }
    std::string expansion;
    {
      OriginScope scope(*this, ScriptOrigin{&entry, true, {}});
      runScript(entry.conditional, expansion);
    }
    if (expansion.empty()) continue;
    if (runLevel_.logsSelection()) {
      log_.newline();
      log_.write("conditional formula : ");
      log_.write(entry.conditional);
      log_.newline();
      log_.write("conditional result 1: ");
      log_.write(expansion);
      log_.newline();
    }
    const std::optional<std::string> answer = evaluateFormula(expansion, false);
    const double value = answer ? parseDoublePrefix(*answer) : 0.0;
    if (runLevel_.logsSelection()) {
      log_.write("conditional result 2: ");
      log_.write(answer ? *answer : std::string());
      log_.newline();
    }
    if (value != 0.0) {
      list.push_back(&*it);
      ++appended;
    } else if (!entry.conditionalElse.empty() && !exhausted()) {
      // A conditional-else naming its own token (directly or through others) ends at the
      // nesting bound.
      Nesting nesting(*this);
      appended += collectImpl(entry.conditionalElse, list);
    }
  }
  return appended;
}

std::optional<std::string> ScriptEngine::runTalk(std::string_view token, std::string& out,
                                                 bool raw) {
  try {
    Entry guard(*this);
    if (nesting_ > kMaxNesting) return std::nullopt;
    CandidateList candidates;
    const std::size_t n = collectCandidates(token, candidates);
    if (n == 0 || candidates.empty()) return std::nullopt;
    const std::uint32_t count = static_cast<std::uint32_t>(
        std::min<std::size_t>(candidates.size(), std::numeric_limits<std::uint32_t>::max()));
    const std::uint32_t k = chooseIndex(count);
    const KnowledgeEntry& entry = candidates[k - 1]->second;
    if (runLevel_.logsSelection()) {
      log_.newline();
      log_.write("selected layer2 script: ");
      log_.write(entry.script);
    }
    std::string text;
    {
      OriginScope scope(*this, ScriptOrigin{&entry, false, {}});
      runScript(entry.script, text);
    }
    if (!raw) text = stripScriptQuotes(text);
    if (runLevel_.logsSelection()) {
      log_.newline();
      log_.write("selected layer2 script result: ");
      log_.write(text);
    }
    if (text.empty()) return std::nullopt;
    out = text;
    if (runLevel_.logsSelection()) {
      log_.newline();
      log_.write("selected layer2 script last result: ");
      log_.write(text);
    }
    return text;
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace zelka
