// A host's request round trip through the exported functions: the module is mapped and
// loaded on a temporary copy of the sample ghost, then "GET Version" is sent again and again
// (request block from malloc, response released with free, as a host does). Reports the time
// of one round trip; the median of the repetitions is the figure that counts.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "module_session.h"

namespace {

namespace fs = std::filesystem;

const char* const kFallbackConfig =
    "<?xml version='1.0' encoding='Shift_JIS'?>\r\n"
    "<ZelkaConfiguration>\r\n"
    "  <GhostProfile locale=\"Japanese\" birthday=\"2001/05/03\"/>\r\n"
    "  <RunEnvironment runlevel=\"0\">\r\n"
    "    <Directory type=\"vender\" name=\"vender/\"/>\r\n"
    "    <Directory type=\"learning\" name=\"_learning/\"/>\r\n"
    "  </RunEnvironment>\r\n"
    "</ZelkaConfiguration>\r\n";

std::string sampleConfig() {
  fs::path sample = fs::path(__FILE__).parent_path().parent_path() / "ghost/sample/zelkaconf.xml";
  std::ifstream in(sample, std::ios::binary);
  if (!in) return kFallbackConfig;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void BM_GetVersionRoundTrip(benchmark::State& state) {
  static zelka::bench::ModuleSession module(
      zelka::bench::GhostFiles{{"zelkaconf.xml", sampleConfig()}});
  if (!module.loaded()) {
    state.SkipWithError("the module did not load");
    return;
  }
  const std::string text = "GET Version SHIORI/2.0\r\nSender: bench\r\n\r\n";
  std::size_t bytes = 0;
  for (auto _ : state) {
    bytes = module.roundTrip(text).size();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["response_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_GetVersionRoundTrip)->Unit(benchmark::kMicrosecond)->Repetitions(9)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
