// Formula evaluation as a script condition or counter uses it: set the formula, lex it,
// evaluate it against a table of variables. Reports the time of one setFormula + evaluate.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "script/formula_evaluator.h"

namespace {

// Ten operators, variables on both sides, an assignment and a group.
constexpr const char* kFormula =
    "__count = __count + 2 * __step - 4 / 2 + (__seed % 3) * 2 == 9 && __Think_accept";

void fillVariables(zelka::VariableTable& vars) {
  vars.setVariableUnsigned("__count", 3);
  vars.setVariableUnsigned("__step", 3);
  vars.setVariableUnsigned("__seed", 5);
  vars.setVariableUnsigned("__Think_accept", 1);
  vars.setVariable("__Sentence", "good morning");
  vars.setVariable("__Sender", "someone");
  vars.setVariableUnsigned("__TalkInterval", 180);
  // The numbered results a talk leaves behind.
  for (unsigned i = 0; i < 64; ++i) vars.setVariableByNumber(i, "word" + std::to_string(i));
}

void BM_TenOperatorFormula(benchmark::State& state) {
  zelka::FormulaEvaluator evaluator;
  fillVariables(evaluator.variables());
  for (auto _ : state) {
    evaluator.setFormula(kFormula);
    benchmark::DoNotOptimize(evaluator.evaluate());
  }
  state.counters["rpn_tokens"] = static_cast<double>(
      std::count(evaluator.formulaRpn().begin(), evaluator.formulaRpn().end(), ' ') + 1);
}
BENCHMARK(BM_TenOperatorFormula)->Unit(benchmark::kMicrosecond)->Repetitions(10)
    ->ReportAggregatesOnly(true);

void BM_StringJoin(benchmark::State& state) {
  zelka::FormulaEvaluator evaluator;
  fillVariables(evaluator.variables());
  for (auto _ : state) {
    evaluator.setFormula("__Sender + \" said \" + __Sentence + \" to \" + __Here");
    benchmark::DoNotOptimize(evaluator.evaluate());
  }
}
BENCHMARK(BM_StringJoin)->Unit(benchmark::kMicrosecond)->Repetitions(10)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
