// The timer event a host sends every second, as a round trip through the exported functions:
// the module is mapped and loaded on a temporary ghost without knowledge files and with free
// talk switched off, then "OnSecondChange" is sent again and again (request block from malloc,
// response released with free). No conversion happens and no script runs, so this is the
// event handling's own cost per second of the host's clock plus the protocol round trip.
// The median of the repetitions is the figure that counts.
#include <benchmark/benchmark.h>

#include <string>

#include "module_session.h"

namespace {

const char* const kConfig =
    "<?xml version='1.0' encoding='Shift_JIS'?>\r\n"
    "<ZelkaConfiguration>\r\n"
    "  <GhostProfile locale=\"Japanese\" birthday=\"2001/05/03\" talk_interval=\"0\""
    " listen_wait=\"16\" think_wait=\"5\"/>\r\n"
    "  <RunEnvironment runlevel=\"0\">\r\n"
    "    <Directory type=\"vender\" name=\"vender/\"/>\r\n"
    "    <Directory type=\"learning\" name=\"_learning/\"/>\r\n"
    "  </RunEnvironment>\r\n"
    "</ZelkaConfiguration>\r\n";

const char* const kSecondChange =
    "GET Sentence SHIORI/2.2\r\n"
    "Sender: SSP\r\n"
    "Event: OnSecondChange\r\n"
    "Reference0: 0\r\n"
    "Reference1: 0\r\n"
    "Reference2: 0\r\n"
    "Reference3: 1\r\n"
    "SecurityLevel: local\r\n"
    "Charset: Shift_JIS\r\n"
    "\r\n";

void BM_SecondChangeRoundTrip(benchmark::State& state) {
  static zelka::bench::ModuleSession module(zelka::bench::GhostFiles{{"zelkaconf.xml", kConfig}});
  if (!module.loaded()) {
    state.SkipWithError("the module did not load");
    return;
  }
  const std::string text = kSecondChange;
  // Nothing to say: the answer must be the bare 204.
  if (module.roundTrip(text) != "SHIORI/2.6 204 No Content\r\nCharset: Shift_JIS\r\n\r\n") {
    state.SkipWithError("OnSecondChange was not answered with 204");
    return;
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    bytes = module.roundTrip(text).size();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["response_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_SecondChangeRoundTrip)->Unit(benchmark::kMicrosecond)->Repetitions(9)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
