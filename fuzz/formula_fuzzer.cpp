// Fuzz target: a formula through setFormula and evaluate, on a small variable table holding
// a number, a quoted text, a name and an empty value. A second evaluation of the same text
// on a fresh table must give the same answer (the evaluator keeps no hidden state).
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_support.h"
#include "script/formula_evaluator.h"

namespace {

void fillVariables(zelka::VariableTable& vars) {
  vars.setVariable("n", "42");
  vars.setVariable("f", "-2.5e+001");
  vars.setVariable("q", "\"text\"");
  vars.setVariable("name", "abc");
  vars.setVariable("e", "");
  vars.setVariable("__Age", "7");
}

std::optional<std::string> evaluateOnce(std::string_view formula) {
  zelka::FormulaEvaluator evaluator;
  fillVariables(evaluator.variables());
  evaluator.setFormula(formula);
  return evaluator.evaluate();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view formula = zelka::fuzz::asText(data, size);
  const std::optional<std::string> first = evaluateOnce(formula);
  const std::optional<std::string> second = evaluateOnce(formula);
  if (first != second) zelka::fuzz::fail("the same formula evaluated twice differs");

  // The reverse Polish text alone, as the diagnostic lines show it.
  zelka::FormulaEvaluator evaluator;
  fillVariables(evaluator.variables());
  evaluator.buildRpn(formula);
  return 0;
}
