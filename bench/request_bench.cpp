// A host's request round trip through the exported functions: the module is mapped and
// loaded on a temporary copy of the sample ghost, then "GET Version" is sent again and again
// (request block from malloc, response released with free, as a host does). Reports the time
// of one round trip; the median of the repetitions is the figure that counts.
//
// The event pair: one event with four references and a Japanese talk, asked as a SHIORI/2.2
// request in Shift_JIS and as the SHIORI/3.0 request in UTF-8 that maps onto it. The 3.0
// figure should stay within 1.2 times the 2.x one.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>

#include "module_session.h"

// Every operator new in the process, the module's included (its calls resolve to these), so
// that a round trip's allocations can be counted.
namespace {
std::atomic<std::size_t> gAllocations{0};
}  // namespace

void* operator new(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// GCC takes the free of memory from this operator new for a mismatch; it is the pair.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

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

// こんにちは in Shift_JIS and in UTF-8.
const std::string kHelloSjis = "\x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD";
const std::string kHelloUtf8 = "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF";

zelka::bench::ModuleSession& eventModule() {
  static zelka::bench::ModuleSession module(zelka::bench::GhostFiles{
      {"zelkaconf.xml", kFallbackConfig},
      {"vender/bench.tlk", "[ZELKA KNOWLEDGE 2.0]\n{\ntoken: OnBench\nscript: \\0" + kHelloSjis +
                               "%ref0 %ref3\\e\n}\n"}});
  return module;
}

void runEventRoundTrip(benchmark::State& state, const std::string& text) {
  zelka::bench::ModuleSession& module = eventModule();
  if (!module.loaded()) {
    state.SkipWithError("the module did not load");
    return;
  }
  std::size_t bytes = 0;
  const std::size_t allocationsBefore = gAllocations.load();
  for (auto _ : state) {
    bytes = module.roundTrip(text).size();
    benchmark::DoNotOptimize(bytes);
  }
  const std::size_t allocations = gAllocations.load() - allocationsBefore;
  if (bytes < 40) state.SkipWithError("the event was not answered with talk");
  state.counters["response_bytes"] = static_cast<double>(bytes);
  // operator new calls per round trip, the bench's own copy of the response included.
  state.counters["allocations"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}

void BM_EventRoundTrip2(benchmark::State& state) {
  runEventRoundTrip(state, "GET Sentence SHIORI/2.2\r\nSender: SSP\r\nEvent: OnBench\r\n"
                           "Reference0: " + kHelloSjis + "\r\nReference1: 1\r\nReference2: 2\r\n"
                           "Reference3: " + kHelloSjis + "\r\nSecurityLevel: local\r\n"
                           "Charset: Shift_JIS\r\n\r\n");
}
BENCHMARK(BM_EventRoundTrip2)->Unit(benchmark::kMicrosecond)->Repetitions(9)
    ->ReportAggregatesOnly(true);

void BM_EventRoundTrip3(benchmark::State& state) {
  runEventRoundTrip(state, "GET SHIORI/3.0\r\nCharset: UTF-8\r\nSender: SSP\r\nID: OnBench\r\n"
                           "Reference0: " + kHelloUtf8 + "\r\nReference1: 1\r\nReference2: 2\r\n"
                           "Reference3: " + kHelloUtf8 + "\r\nSecurityLevel: local\r\n\r\n");
}
BENCHMARK(BM_EventRoundTrip3)->Unit(benchmark::kMicrosecond)->Repetitions(9)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
