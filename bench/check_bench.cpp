// zelka-host check as an author waits for it: the whole process (start, read with the
// module's readers, lint, print) on the sample ghost, and on a large ghost with a 10 MB
// knowledge file beside the generated 100,000-node learned store.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "store_fixture.h"

namespace {

// CPU seconds used by finished child processes so far (the machine may be shared, so the
// wall time alone can mislead).
double childCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int runCheck(const std::string& directory) {
  const std::string command = std::string(ZELKA_BINARY_DIR) + "/zelka-host check --brief '" +
                              directory + "' > /dev/null";
  return std::system(command.c_str());
}

// Blocks of the kinds a ghost holds: events with conditions, alternatives and elements.
std::string largeKnowledgeFile(std::size_t bytes) {
  static const char* const kTokens[] = {"OnBoot", "OnClose", "OnZelkaFreeTalk",
                                        "OnMinuteChange", "OnZelkaCommunicate"};
  std::string text = "[ZELKA KNOWLEDGE 2.0]\n";
  for (std::size_t i = 0; text.size() < bytes; ++i) {
    text += "// block " + std::to_string(i) + "\n{\ntoken: " + kTokens[i % 5] +
            "\nconditional: %hour < " + std::to_string(i % 24) +
            "\nscript: \\0[0]%if(%rand[9] > 4){a" + std::to_string(i) +
            "}else{b}\\w8\\1[10]%ms[%ref0]%formula[x = x + 1]\n"
            "script: \\0[5]%reflex[__Sender] %strcmp[a,b] %(int)[0] text " +
            std::string(60, 'x') + "\n}\n";
  }
  return text;
}

void BM_CheckSampleGhost(benchmark::State& state) {
  const std::string sample = std::string(ZELKA_SOURCE_DIR) + "/ghost/sample";
  const double cpuBefore = childCpuSeconds();
  for (auto _ : state) {
    if (runCheck(sample) != 0) state.SkipWithError("check found an error in the sample");
  }
  state.counters["cpu_ms"] = benchmark::Counter(
      (childCpuSeconds() - cpuBefore) * 1000 / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_CheckSampleGhost)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CheckLargeGhost(benchmark::State& state) {
  zelka::bench::StoreFixture fixture;
  {
    std::ofstream out(fixture.path() / "talk.tlk", std::ios::binary);
    out << largeKnowledgeFile(10u << 20);
  }
  const std::string directory = fixture.path().string();
  const double cpuBefore = childCpuSeconds();
  for (auto _ : state) benchmark::DoNotOptimize(runCheck(directory));
  state.counters["cpu_ms"] = benchmark::Counter(
      (childCpuSeconds() - cpuBefore) * 1000 / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_CheckLargeGhost)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
