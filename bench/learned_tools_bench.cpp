// zelka-host's views of what a ghost learned, on the large learned store of
// bench/store_fixture.h (a bind network of 100,000 nodes, 20,000 words and neurons below 40
// categories), run as a person runs them: the built zelka-host as a separate process, timed
// from start to exit. Reported:
//   - LearnedGraph: `zelka-host graph DIR -o FILE.svg` with its default limits (read the
//     stores, choose the nodes, lay them out with Graphviz, write the SVG); it must stay
//     under 5 s;
//   - LearnedReport: `zelka-host learned DIR` with its default limits, output discarded;
//   - LearnedSnapshot: `zelka-host learned DIR --save-snapshot FILE`.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "store_fixture.h"

namespace zelka {
namespace {

bench::StoreFixture& fixture() {
  static bench::StoreFixture store;
  return store;
}

std::string quoted(const std::string& text) { return "'" + text + "'"; }

void runHost(benchmark::State& state, const std::string& arguments) {
  const std::string directory = fixture().path().string();
  const std::string command = quoted(std::string(ZELKA_BINARY_DIR) + "/zelka-host") + " " +
                              arguments + " " + quoted(directory) + " >/dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("zelka-host failed");
  }
}

void LearnedGraph(benchmark::State& state) {
  runHost(state, "graph -o " + quoted(fixture().path().string() + "/learned.svg"));
}
BENCHMARK(LearnedGraph)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void LearnedReport(benchmark::State& state) { runHost(state, "learned"); }
BENCHMARK(LearnedReport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void LearnedSnapshot(benchmark::State& state) {
  runHost(state, "learned --save-snapshot " + quoted(fixture().path().string() + "/snapshot"));
}
BENCHMARK(LearnedSnapshot)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace zelka

BENCHMARK_MAIN();
