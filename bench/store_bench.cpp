// The knowledge stores on a large learned store (bench/store_fixture.h: a bind network of
// 100,000 nodes with 3,000 characters under the root, a word index and a neuron network of
// 20,000 words each). Reported:
//   - KnowledgeSetLoad: loading the four stores, with the peak resident memory of the loaded
//     set (peak_rss_MB: the process's high-water mark after the load; loaded_MB: its growth
//     over the resident size before the load);
//   - KnowledgeSetDestroy: destruction, which saves the four stores;
//   - FindChild among the root's 3,000 children and among about 30;
//   - Reinforce of a root child, which rescales its 2,999 siblings.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "config/zelka_config.h"
#include "learning/knowledge_set.h"
#include "store_fixture.h"
#include "stores/bind_network.h"

namespace zelka {
namespace {

bench::StoreFixture& fixture() {
  static bench::StoreFixture store;
  return store;
}

// A value in kB from /proc/self/status ("VmHWM", "VmRSS"); 0 where there is none.
double statusKilobytes(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  std::size_t n = std::strlen(key);
  while (std::getline(in, line)) {
    if (line.compare(0, n, key) == 0 && line.size() > n && line[n] == ':') {
      return std::stod(line.substr(n + 1));
    }
  }
  return 0;
}

// Starts a new high-water mark of the resident size (Linux 4.0 and later).
void resetPeakResident() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
}

void KnowledgeSetLoad(benchmark::State& state) {
  bench::StoreFixture& f = fixture();
  ZelkaConfig config;
  if (!config.read(f.moduleDirectory())) state.SkipWithError("configuration not read");
  double peak = 0, grown = 0;
  for (auto _ : state) {
    state.PauseTiming();
    double before = statusKilobytes("VmRSS");
    resetPeakResident();
    auto set = std::make_unique<KnowledgeSet>();
    state.ResumeTiming();
    bool ok = set->load(f.moduleDirectory(), &config);
    state.PauseTiming();
    if (!ok) state.SkipWithError("load failed");
    peak = statusKilobytes("VmHWM");
    grown = statusKilobytes("VmRSS") - before;
    set.reset();
    state.ResumeTiming();
  }
  state.counters["peak_rss_MB"] = peak / 1024;
  state.counters["loaded_MB"] = grown / 1024;
}
BENCHMARK(KnowledgeSetLoad)->Unit(benchmark::kMillisecond)->Iterations(5);

void KnowledgeSetDestroy(benchmark::State& state) {
  bench::StoreFixture& f = fixture();
  ZelkaConfig config;
  if (!config.read(f.moduleDirectory())) state.SkipWithError("configuration not read");
  for (auto _ : state) {
    state.PauseTiming();
    auto set = std::make_unique<KnowledgeSet>();
    if (!set->load(f.moduleDirectory(), &config)) state.SkipWithError("load failed");
    state.ResumeTiming();
    set.reset();
  }
}
BENCHMARK(KnowledgeSetDestroy)->Unit(benchmark::kMillisecond)->Iterations(5);

// The bind network alone, loaded once for the lookups and reinforcements.
struct LoadedBind {
  LoadedBind() { ok = store.load(fixture().learningDirectory() + u"bind.xml"); }
  ~LoadedBind() { store.XmlDocument::open(u""); }  // discard the changes rather than save them
  BindNetworkStore store;
  bool ok = false;
};

LoadedBind& loadedBind() {
  static LoadedBind bind;
  return bind;
}

// The child of the root whose own child count is nearest to `wanted`.
BindNode nodeWithChildren(std::size_t wanted) {
  BindNode best;
  std::size_t bestGap = static_cast<std::size_t>(-1);
  for (XmlNode c = loadedBind().store.root().element().firstChild(); c; c = c.nextSibling()) {
    std::size_t n = c.childCount();
    std::size_t gap = n > wanted ? n - wanted : wanted - n;
    if (gap < bestGap) {
      bestGap = gap;
      best = BindNode(c);
    }
  }
  return best;
}

void findChildBench(benchmark::State& state, BindNode parent) {
  std::vector<std::u16string> names;
  for (XmlNode c = parent.element().firstChild(); c; c = c.nextSibling()) {
    names.push_back(c.attribute(u"name").value_or(u""));
  }
  if (names.empty()) {
    state.SkipWithError("no children");
    return;
  }
  std::size_t i = 0;
  for (auto _ : state) {
    BindNode found = parent.findChild(names[i], 0);
    benchmark::DoNotOptimize(found);
    if (++i == names.size()) i = 0;
  }
  state.counters["children"] = static_cast<double>(names.size());
}

void FindChildAmongRootChildren(benchmark::State& state) {
  if (!loadedBind().ok) state.SkipWithError("bind network not loaded");
  findChildBench(state, loadedBind().store.root());
}
BENCHMARK(FindChildAmongRootChildren);

void FindChildAmongThirty(benchmark::State& state) {
  if (!loadedBind().ok) state.SkipWithError("bind network not loaded");
  findChildBench(state, nodeWithChildren(30));
}
BENCHMARK(FindChildAmongThirty);

void ReinforceRootChild(benchmark::State& state) {
  if (!loadedBind().ok) state.SkipWithError("bind network not loaded");
  BindNode root = loadedBind().store.root();
  std::vector<BindNode> children;
  for (XmlNode c = root.element().firstChild(); c; c = c.nextSibling()) {
    children.emplace_back(c);
  }
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(children[i].reinforce());
    i = (i + 97) % children.size();
  }
  state.counters["siblings"] = static_cast<double>(children.size());
  state.counters["root_total"] = root.total();
}
BENCHMARK(ReinforceRootChild)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace zelka

BENCHMARK_MAIN();
