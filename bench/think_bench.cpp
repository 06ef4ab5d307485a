// The think pass over a heard sentence on a large bind network: a 100-character Japanese
// sentence segmented on a network of 100,000 nodes. Reported: milliseconds per pass (the
// target is under 100), the number of segments, and the network's size.
//
// The network is generated deterministically: about two thousand characters (hiragana,
// katakana, kanji, punctuation) under the root, up to a few dozen followers under each, and
// third-level followers until the node count is reached. Counts follow a Zipf law, so
// distances and totals are consistent with what learning would have written.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "brain/think_thread.h"
#include "knowledge/bind_network.h"
#include "util/number_text.h"

namespace zelka {
namespace {

constexpr int kNetworkNodes = 100000;
constexpr int kSentenceLength = 100;

class Lcg {
 public:
  explicit Lcg(std::uint32_t seed) : x_(seed) {}
  std::uint32_t next() {
    x_ = x_ * 1664525u + 1013904223u;
    return x_ >> 8;
  }
  std::uint32_t below(std::uint32_t n) { return next() % n; }

 private:
  std::uint32_t x_;
};

// The characters of the generated language, most frequent first: hiragana, then kanji and
// katakana interleaved, then punctuation.
std::vector<char16_t> alphabetByRank() {
  std::vector<char16_t> chars;
  for (char16_t c = 0x3041; c <= 0x3093; ++c) chars.push_back(c);  // hiragana
  std::vector<char16_t> kanji;
  for (int i = 0; i < 1800; ++i) kanji.push_back(static_cast<char16_t>(0x4E00 + i * 11));
  std::vector<char16_t> katakana;
  for (char16_t c = 0x30A1; c <= 0x30F3; ++c) katakana.push_back(c);
  std::size_t k = 0;
  for (std::size_t i = 0; i < kanji.size(); ++i) {
    chars.push_back(kanji[i]);
    if (i % 20 == 0 && k < katakana.size()) chars.push_back(katakana[k++]);
  }
  while (k < katakana.size()) chars.push_back(katakana[k++]);
  chars.push_back(u'、');
  chars.push_back(u'。');
  return chars;
}

// Draws a rank with probability proportional to 1 / (rank + 1).
class Zipf {
 public:
  explicit Zipf(std::size_t n) : cumulative_(n) {
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) cumulative_[i] = (sum += 1.0 / double(i + 1));
  }
  std::size_t draw(Lcg& rng) const {
    double u = (rng.next() / double(1u << 24)) * cumulative_.back();
    return std::lower_bound(cumulative_.begin(), cumulative_.end(), u) - cumulative_.begin();
  }

 private:
  std::vector<double> cumulative_;
};

struct GenNode {
  char16_t name;
  double count;
  std::vector<GenNode> children;
};

void appendNumberAttribute(std::string& out, const char* name, double value) {
  out += ' ';
  out += name;
  out += "=\"";
  out += formatScientific(value, 15);
  out += '"';
}

void writeNode(std::string& out, const GenNode& node, double parentTotal) {
  double total = 0;
  for (const auto& c : node.children) total += c.count;
  char name[16];
  std::snprintf(name, sizeof name, "&#x%04X;", static_cast<unsigned>(node.name));
  out += "<Bind name=\"";
  out += name;
  out += '"';
  appendNumberAttribute(out, "distance", std::fabs(std::log10(node.count / parentTotal)));
  appendNumberAttribute(out, "total", total);
  if (node.children.empty()) {
    out += "/>";
    return;
  }
  out += '>';
  for (const auto& c : node.children) writeNode(out, c, total);
  out += "</Bind>";
}

// Children under one parent: distinct characters drawn by frequency, counts by rank, in key
// order.
std::vector<GenNode> makeChildren(int fanOut, const std::vector<char16_t>& alphabet,
                                  const Zipf& zipf, Lcg& rng) {
  std::vector<char16_t> names;
  int attempts = 0;
  while (static_cast<int>(names.size()) < fanOut && attempts++ < fanOut * 20) {
    char16_t c = alphabet[zipf.draw(rng)];
    if (std::find(names.begin(), names.end(), c) == names.end()) names.push_back(c);
  }
  std::vector<GenNode> children;
  for (std::size_t r = 0; r < names.size(); ++r) {
    // Steep counts: the most frequent follower usually holds a third or more of its
    // parent's experience, so that heard text can follow it within a segment.
    children.push_back(GenNode{names[r], 1.0 + std::floor(60.0 / double((r + 1) * (r + 1))), {}});
  }
  std::sort(children.begin(), children.end(),
            [](const GenNode& a, const GenNode& b) { return a.name < b.name; });
  return children;
}

struct Generated {
  std::string networkText;
  std::u16string sentence;
};

// A child drawn in proportion to its count.
const GenNode* drawChild(const GenNode& parent, Lcg& rng) {
  double total = 0;
  for (const auto& c : parent.children) total += c.count;
  double u = (rng.next() / double(1u << 24)) * total;
  for (const auto& c : parent.children) {
    if ((u -= c.count) < 0) return &c;
  }
  return parent.children.empty() ? nullptr : &parent.children.back();
}

// A sentence the network has partly heard before: runs that follow learned paths, restarted
// at a frequent character, with a comma now and then and a full stop at the end.
std::u16string walkSentence(const GenNode& root, Lcg& rng) {
  std::u16string s;
  const GenNode* at = nullptr;
  while (static_cast<int>(s.size()) < kSentenceLength - 1) {
    if (rng.below(17) == 0) {
      s.push_back(u'、');
      at = nullptr;
      continue;
    }
    if (at == nullptr || at->children.empty() || rng.below(4) == 0) at = &root;
    at = drawChild(*at, rng);
    s.push_back(at->name);
  }
  s.push_back(u'。');
  return s;
}

// The bind network's file text, with `nodes` nodes below the root, and a sentence.
Generated generateNetwork(int nodes) {
  const std::vector<char16_t> alphabet = alphabetByRank();
  const Zipf zipf(alphabet.size());
  Lcg rng(20261208);

  GenNode root{u'r', 0, {}};
  int made = 0;
  for (std::size_t r = 0; r < alphabet.size(); ++r) {
    root.children.push_back(GenNode{alphabet[r], 1.0 + std::floor(5000.0 / double(r + 1)), {}});
  }
  made += static_cast<int>(root.children.size());
  // Second level: up to 45 followers for frequent characters, a handful for rare ones,
  // about half of the node budget.
  const int secondBudget = (nodes - made) / 2;
  for (auto& first : root.children) {
    if (made >= static_cast<int>(alphabet.size()) + secondBudget) break;
    std::size_t rank = std::find(alphabet.begin(), alphabet.end(), first.name) - alphabet.begin();
    int fanOut = std::clamp(static_cast<int>(45.0 / std::sqrt(double(rank + 1) / 8.0)), 20, 45);
    first.children = makeChildren(fanOut, alphabet, zipf, rng);
    made += static_cast<int>(first.children.size());
  }
  // Third level: followers of followers until the budget is spent.
  while (made < nodes) {
    bool progressed = false;
    for (auto& first : root.children) {
      for (auto& second : first.children) {
        if (made >= nodes) break;
        if (!second.children.empty()) continue;
        int fanOut = std::min(1 + static_cast<int>(rng.below(3)), nodes - made);
        second.children = makeChildren(fanOut, alphabet, zipf, rng);
        made += static_cast<int>(second.children.size());
        progressed = progressed || !second.children.empty();
      }
    }
    if (!progressed) break;
  }
  std::sort(root.children.begin(), root.children.end(),
            [](const GenNode& a, const GenNode& b) { return a.name < b.name; });

  Lcg sentenceRng(42);
  Generated generated;
  generated.sentence = walkSentence(root, sentenceRng);

  double rootTotal = 0;
  for (const auto& c : root.children) rootTotal += c.count;
  std::string& out = generated.networkText;
  out = "<?xml version='1.0' encoding='Shift_JIS'?>\n<Bind name=\"root\"";
  appendNumberAttribute(out, "total", rootTotal);
  out += '>';
  for (const auto& c : root.children) writeNode(out, c, rootTotal);
  out += "</Bind>\n";
  return generated;
}

int countNodes(const XmlElement& e) {
  int n = 1;
  for (XmlElement c = e.firstChild(); !c.empty(); c = c.nextSibling()) n += countNodes(c);
  return n;
}

const Generated& generated() {
  static const Generated g = generateNetwork(kNetworkNodes - 1);
  return g;
}

// One pass over the sentence on a fresh copy of the network each iteration (the pass learns,
// so a reused network would drift from one iteration to the next).
void BM_ThinkPassFreshNetwork(benchmark::State& state) {
  const std::string& text = generated().networkText;
  const std::u16string& sentence = generated().sentence;
  std::size_t segments = 0;
  int nodes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto store = std::make_unique<BindNetworkStore>();
    if (store->openFromText(text) != XmlOpenResult::Loaded) {
      state.SkipWithError("the generated network did not load");
      break;
    }
    if (nodes == 0) nodes = countNodes(store->root().element());
    ThinkThread think(*store);
    std::deque<std::u16string> out;
    state.ResumeTiming();
    think.thinkNow(u"bench", u"", sentence, out);
    state.PauseTiming();
    segments = out.size();
    store.reset();
    state.ResumeTiming();
  }
  state.counters["segments"] = static_cast<double>(segments);
  state.counters["nodes"] = nodes;
  state.counters["chars"] = static_cast<double>(sentence.size());
}
BENCHMARK(BM_ThinkPassFreshNetwork)->Unit(benchmark::kMillisecond)->Iterations(10);

// The same sentence heard again and again on one network, through the worker thread with the
// front's first wait.
void BM_ThinkPassRepeatedOnWorker(benchmark::State& state) {
  BindNetworkStore store;
  if (store.openFromText(generated().networkText) != XmlOpenResult::Loaded) {
    state.SkipWithError("the generated network did not load");
    return;
  }
  const std::u16string& sentence = generated().sentence;
  ThinkThread think(store);
  think.setThinkWait(1000);
  int late = 0;
  for (auto _ : state) {
    if (think.startThinking(u"bench", u"", sentence, 500) != 1) ++late;
    think.acceptThinking(1);
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
