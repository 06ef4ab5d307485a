// Expanding one talk script the way a request does: a script of about 300 bytes with ten
// meta elements at its top level (variable output with and without a cast, the clock, a
// conditional chain over a variable, rand, a formula over a variable, scope tags) through
// ScriptEngine::runScript. Reported: the time of one expansion (median of the repetitions;
// target below 50 microseconds) and the script's size.
//
// A runaway script: the script fuzz target's finding script-slow-187.bin (random bytes around
// %rand, host tags, calls and unbalanced brackets) on that target's own fixture, at run level
// 0 and at the fixture's level 4 (every diagnostic line). Reported: CPU time of one expansion
// (target below 50 ms for any script of up to 4 KB) and the bytes it wrote to the log.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "script_fixture.h"

#include "platform/text_codec.h"
#include "script/script_engine.h"
#include "shiori/diagnostic_log.h"

namespace {

// UTF-8 here, Shift_JIS at run time.
constexpr const char* kScriptUtf8 =
    "\\0[0]%[user]さん、%hour時%minute分だね。"
    "%if(%[mood] > 5){ご機嫌だね！}elseif(%[mood] > 2){まあまあかな。}"
    "else{元気ないの？}"
    "\\1[10]サイコロは%rand[5,1]が出たよ。"
    "得点は%formula[%[score] * 2 + 1]点で、比率は%(float)[ratio]だって。"
    "\\0[3]今日はもう%[count]回目のお喋りだよ。\\e";

struct BenchEngine {
  zelka::FormulaEvaluator evaluator;
  zelka::KnowledgeBase knowledge;
  zelka::EventContext event;
  zelka::Mt19937 random{4357u};
  zelka::DiagnosticLog log;
  zelka::ScriptEngine engine{evaluator, knowledge, event, random, log};

  BenchEngine() {
    zelka::VariableTable& vars = evaluator.variables();
    vars.setVariable("user", zelka::toNarrow(zelka::utf8ToUtf16("たろう")));
    vars.setVariableUnsigned("mood", 4);
    vars.setVariableUnsigned("score", 21);
    vars.setVariable("ratio", "0.75");
    vars.setVariableUnsigned("count", 12);
    for (unsigned i = 0; i < 64; ++i) vars.setVariableByNumber(i, "word" + std::to_string(i));
    engine.setClock([] { return std::int64_t{1750000000}; });
  }
};

void BM_RunTalkScript(benchmark::State& state) {
  BenchEngine bench;
  const std::string script = zelka::toNarrow(zelka::utf8ToUtf16(kScriptUtf8));
  std::string out;
  for (auto _ : state) {
    out.clear();
    bench.engine.runScript(script, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["script_bytes"] = static_cast<double>(script.size());
  state.counters["talk_bytes"] = static_cast<double>(out.size());
}
BENCHMARK(BM_RunTalkScript)->Unit(benchmark::kMicrosecond)->Repetitions(10)
    ->ReportAggregatesOnly(true);

void BM_RunawayScript(benchmark::State& state) {
  const std::string path = std::string(ZELKA_SOURCE_DIR) + "/fuzz/regressions/script/script-slow-187.bin";
  std::ifstream in(path, std::ios::binary);
  const std::string script(std::istreambuf_iterator<char>(in), {});
  if (script.empty()) {
    state.SkipWithError("finding not found");
    return;
  }
  const int runLevel = static_cast<int>(state.range(0));
  zelka::fuzz::ScriptFixture fixture;
  std::uintmax_t logBytes = 0;
  for (auto _ : state) {
    fixture.log().open(fixture.logPath());
    fixture.log().flush();
    const std::uintmax_t before = std::filesystem::file_size(fixture.logPath());
    benchmark::DoNotOptimize(fixture.runScript(script, runLevel));
    logBytes = std::filesystem::file_size(fixture.logPath()) - before;
  }
  state.counters["script_bytes"] = static_cast<double>(script.size());
  state.counters["log_bytes"] = static_cast<double>(logBytes);
}
BENCHMARK(BM_RunawayScript)->Arg(0)->Arg(4)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()
    ->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
