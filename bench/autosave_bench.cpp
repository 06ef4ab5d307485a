// How long the request that triggers a periodic save waits, on the large learned store of
// bench/store_fixture.h (a bind network of 100,000 nodes, a word index and a neuron network of
// 20,000 words each), through the exported functions as a host calls them. The ghost saves
// every 2 seconds of session time, so every second OnSecondChange triggers a save.
//   - AutosaveAfterHeardSentence: a sentence is heard (the think pass edits the bind network
//     and the variables change), then two OnSecondChange events; the second saves bind.xml
//     and reflex.txt. Reported: trigger_ms (mean), trigger_max_ms, trigger_cpu_ms (the
//     processor time of the triggering request on its thread), and second_ms, the
//     OnSecondChange before it that saves nothing; on_disk_ms, from the triggering request
//     until bind.xml was replaced (the writing and flushing happen off the request).
//   - AutosaveNothingLearned: OnSecondChange events only; a due save finds nothing to write.
//   - SnapshotAllFourStores: the knowledge set with an edit in each of its four stores,
//     serialised for the writer: what a request waits for at most (no request path edits all
//     four between two saves); write_ms, what the writer then takes to put them on disk.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "config/zelka_config.h"
#include "learning/knowledge_set.h"
#include "module_session.h"
#include "platform/file_system.h"
#include "platform/text_codec.h"
#include "store_fixture.h"

namespace zelka {
namespace {

constexpr char kConfig[] =
    "<?xml version='1.0' encoding='Shift_JIS'?>\n"
    "<ZelkaConfiguration>\n\t<GhostProfile ghost_name=\"bench\" think_wait=\"5\""
    " talk_interval=\"0\" autosave_interval=\"2\"/>\n"
    "\t<RunEnvironment runlevel=\"0\">\n"
    "\t\t<Directory type=\"learning\" name=\"_learning/\"/>\n"
    "\t</RunEnvironment>\n</ZelkaConfiguration>\n";

constexpr char kSecond[] =
    "GET Sentence SHIORI/2.2\r\nSender: SSP\r\nEvent: OnSecondChange\r\nReference0: 1\r\n\r\n";

double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Loads zelka.so on the fixture's ghost directory; unloads at the end.
class LargeGhost {
 public:
  LargeGhost() {
    std::ofstream(fixture_.path() / "zelkaconf.xml", std::ios::binary) << kConfig;
    directory_ = toNarrow(fixture_.moduleDirectory());
    handle_ = dlopen(ZELKA_BINARY_DIR "/zelka.so", RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) return;
    auto load = reinterpret_cast<int (*)(void*, long)>(dlsym(handle_, "load"));
    request_ = reinterpret_cast<void* (*)(void*, long*)>(dlsym(handle_, "request"));
    unload_ = reinterpret_cast<int (*)()>(dlsym(handle_, "unload"));
    if (load == nullptr || request_ == nullptr || unload_ == nullptr) return;
    loaded_ = load(::zelka::testing::mallocCopy(directory_),
                   static_cast<long>(directory_.size())) == 1;
  }
  ~LargeGhost() {
    if (unload_ != nullptr) unload_();
    if (handle_ != nullptr) dlclose(handle_);
  }
  bool loaded() const { return loaded_; }
  const bench::StoreFixture& fixture() const { return fixture_; }

  // Seconds the request took; cpuSeconds, when given, gets the processor time it took on the
  // calling thread (what the wall time comes to on a machine with nothing else to run).
  double timed(const std::string& text, double* cpuSeconds = nullptr) {
    long length = static_cast<long>(text.size());
    const double cpuStart = threadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    void* response = request_(::zelka::testing::mallocCopy(text), &length);
    const auto end = std::chrono::steady_clock::now();
    if (cpuSeconds != nullptr) *cpuSeconds = threadCpuSeconds() - cpuStart;
    std::free(response);
    return std::chrono::duration<double>(end - start).count();
  }

 private:
  bench::StoreFixture fixture_;
  std::string directory_;
  void* handle_ = nullptr;
  void* (*request_)(void*, long*) = nullptr;
  int (*unload_)() = nullptr;
  bool loaded_ = false;
};

// A sentence of characters the network knows, different at every call.
std::string heardSentence(const bench::StoreFixture& fixture, int n) {
  const auto& characters = fixture.rootCharacters();
  std::u16string text;
  for (int i = 0; i < 24; ++i) {
    text.push_back(characters[static_cast<std::size_t>(n * 7 + i * 13) % characters.size()]);
  }
  return "GET Sentence SHIORI/2.2\r\nSender: Anna\r\nSecurityLevel: local\r\nSentence: " +
         toNarrow(text) + "\r\n\r\n";
}

void AutosaveAfterHeardSentence(benchmark::State& state) {
  LargeGhost ghost;
  if (!ghost.loaded()) {
    state.SkipWithError("load failed");
    return;
  }
  const std::filesystem::path bind = ghost.fixture().path() / "_learning" / "bind.xml";
  double trigger = 0, triggerMax = 0, triggerCpu = 0, second = 0, written = 0;
  int n = 0, saves = 0;
  for (auto _ : state) {
    ghost.timed(heardSentence(ghost.fixture(), n++));
    second += ghost.timed(kSecond);
    const auto before = std::filesystem::last_write_time(bind);
    const auto start = std::chrono::steady_clock::now();
    double cpu = 0;
    const double t = ghost.timed(kSecond, &cpu);
    triggerCpu += cpu;
    // The files are written off the request; wait for bind.xml before the next round.
    while (std::filesystem::last_write_time(bind) == before &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (std::filesystem::last_write_time(bind) != before) ++saves;
    written += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    trigger += t;
    triggerMax = std::max(triggerMax, t);
    state.SetIterationTime(t);
  }
  if (saves != n) state.SkipWithError("a due save did not write bind.xml");
  state.counters["trigger_ms"] = 1000.0 * trigger / n;
  state.counters["trigger_max_ms"] = 1000.0 * triggerMax;
  state.counters["trigger_cpu_ms"] = 1000.0 * triggerCpu / n;
  state.counters["second_ms"] = 1000.0 * second / n;
  state.counters["on_disk_ms"] = 1000.0 * written / n;
}
BENCHMARK(AutosaveAfterHeardSentence)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

void AutosaveNothingLearned(benchmark::State& state) {
  LargeGhost ghost;
  if (!ghost.loaded()) {
    state.SkipWithError("load failed");
    return;
  }
  ghost.timed(kSecond);
  ghost.timed(kSecond);  // the first save writes reflex.txt once
  for (auto _ : state) {
    ghost.timed(kSecond);
    state.SetIterationTime(ghost.timed(kSecond));
  }
}
BENCHMARK(AutosaveNothingLearned)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

void SnapshotAllFourStores(benchmark::State& state) {
  bench::StoreFixture fixture;
  ZelkaConfig config;
  KnowledgeSet set;
  if (!config.read(fixture.moduleDirectory()) || !set.load(fixture.moduleDirectory(), &config)) {
    state.SkipWithError("load failed");
    return;
  }
  int n = 0;
  double written = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (XmlDocument* store : {static_cast<XmlDocument*>(&set.bindNetwork()),
                               static_cast<XmlDocument*>(&set.wordIndex()),
                               static_cast<XmlDocument*>(&set.sentenceJournal()),
                               static_cast<XmlDocument*>(&set.neuronNetwork())}) {
      store->documentElement(u"").setAttributeInteger(u"bench", ++n);
    }
    state.ResumeTiming();
    std::vector<StoreSnapshot> snapshots;
    set.snapshotChanged(snapshots);
    state.PauseTiming();
    if (snapshots.size() != 4) state.SkipWithError("not every store was taken");
    const auto start = std::chrono::steady_clock::now();
    for (const StoreSnapshot& snapshot : snapshots) {
      if (!replaceFileAtomically(snapshot.path, snapshot.bytes)) state.SkipWithError("not written");
      set.markSaved(snapshot);
    }
    written += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.ResumeTiming();
  }
  state.counters["write_ms"] = 1000.0 * written / static_cast<double>(state.iterations());
}
BENCHMARK(SnapshotAllFourStores)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zelka

BENCHMARK_MAIN();
