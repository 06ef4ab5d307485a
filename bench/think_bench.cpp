// The think pass over a heard sentence on a large bind network: a 100-character Japanese
// sentence segmented on the learned store's network of 100,000 nodes (3,000 characters under
// the root). Reported: milliseconds per pass (the target is under 100), the number of
// segments, and the network's size.
//
// The sentence is drawn from the network itself, deterministically: runs that follow learned
// paths (each follower chosen in proportion to its count), restarted at a character under the
// root, with a comma now and then and a full stop at the end, so that the pass both follows
// links and ends segments, as it does on heard text.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <deque>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "learning/think_thread.h"
#include "store_fixture.h"
#include "stores/bind_network.h"

namespace zelka {
namespace {

constexpr int kSentenceLength = 100;

class Lcg {
 public:
  explicit Lcg(std::uint32_t seed) : x_(seed) {}
  std::uint32_t next() {
    x_ = x_ * 1664525u + 1013904223u;
    return x_ >> 8;
  }
  std::uint32_t below(std::uint32_t n) { return next() % n; }
  double unit() { return (next() & 0xFFFFFF) / double(1 << 24); }

 private:
  std::uint32_t x_;
};

// A child of the node drawn in proportion to its count (its share is 10^-distance).
XmlNode drawChild(const XmlNode& node, Lcg& rng) {
  double sum = 0;
  for (XmlNode c = node.firstChild(); !c.empty(); c = c.nextSibling()) {
    sum += std::pow(10.0, -c.numberAttribute(u"distance"));
  }
  double u = rng.unit() * sum;
  XmlNode last;
  for (XmlNode c = node.firstChild(); !c.empty(); c = c.nextSibling()) {
    last = c;
    if ((u -= std::pow(10.0, -c.numberAttribute(u"distance"))) < 0) return c;
  }
  return last;
}

std::u16string walkSentence(const BindNode& root) {
  Lcg rng(42);
  std::u16string s;
  XmlNode at;
  while (static_cast<int>(s.size()) < kSentenceLength - 1) {
    if (rng.below(17) == 0) {
      s.push_back(u'、');
      at = XmlNode();
      continue;
    }
    if (at.empty() || at.childCount() == 0 || rng.below(4) == 0) at = root.element();
    at = drawChild(at, rng);
    std::optional<std::u16string> name = at.attribute(u"name");
    s.push_back(name && name->size() == 1 ? (*name)[0] : u'あ');
  }
  s.push_back(u'。');
  return s;
}

int countNodes(const XmlNode& e) {
  int n = 1;
  for (XmlNode c = e.firstChild(); !c.empty(); c = c.nextSibling()) n += countNodes(c);
  return n;
}

struct Input {
  std::string networkText;
  std::u16string sentence;
  int nodes = 0;
};

const Input& input() {
  static const Input in = [] {
    Input i;
    bench::StoreFixture fixture;
    std::ifstream file(fixture.path() / "_learning" / "bind.xml", std::ios::binary);
    i.networkText.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    BindNetworkStore store;
    if (store.openFromText(i.networkText) == XmlOpenResult::Loaded && store.root()) {
      i.sentence = walkSentence(store.root());
      i.nodes = countNodes(store.root().element());
    }
    return i;
  }();
  return in;
}

// One pass over the sentence on a fresh copy of the network each iteration (the pass learns,
// so a reused network would drift from one iteration to the next). The copy is held in memory
// only: it is bound to no file and never saved.
void BM_ThinkPassFreshNetwork(benchmark::State& state) {
  const Input& in = input();
  if (in.sentence.empty()) {
    state.SkipWithError("the generated network did not load");
    return;
  }
  std::size_t segments = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto store = std::make_unique<BindNetworkStore>();
    store->openFromText(in.networkText);
    ThinkThread think(*store);
    std::deque<std::u16string> out;
    state.ResumeTiming();
    think.thinkNow(u"bench", u"", in.sentence, out);
    state.PauseTiming();
    segments = out.size();
    store.reset();
    state.ResumeTiming();
  }
  state.counters["segments"] = static_cast<double>(segments);
  state.counters["nodes"] = in.nodes;
  state.counters["chars"] = static_cast<double>(in.sentence.size());
}
BENCHMARK(BM_ThinkPassFreshNetwork)->Unit(benchmark::kMillisecond)->Iterations(10);

// The same sentence heard again and again on one network, through the worker thread with the
// protocol front's first wait of 500 ms; counts the passes that outlasted that wait.
void BM_ThinkPassRepeatedOnWorker(benchmark::State& state) {
  const Input& in = input();
  BindNetworkStore store;
  if (in.sentence.empty() || store.openFromText(in.networkText) != XmlOpenResult::Loaded) {
    state.SkipWithError("the generated network did not load");
    return;
  }
  ThinkThread think(store);
  think.setThinkWait(1000);
  int late = 0;
  for (auto _ : state) {
    if (think.startThinking(u"bench", u"", in.sentence, 500) != ThinkThread::kStartEnded) ++late;
    think.acceptThinking(kThinkReady);
  }
  state.counters["over_500ms"] = late;
}
BENCHMARK(BM_ThinkPassRepeatedOnWorker)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace
}  // namespace zelka

BENCHMARK_MAIN();
