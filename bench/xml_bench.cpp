// The XML wrapper on a large learned store: opening and saving a Shift_JIS bind network of
// about 150,000 elements (some 10 MB), each set beside xmllint parsing the same file in the
// same run, and keyed lookup among 10,000 children against lookup among 100.
// The summary line at the end gives the ratios.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/text_codec.h"
#include "xml/xml_document.h"

namespace {

using zelka::XmlDocument;
using zelka::XmlNode;
using zelka::XmlOpenResult;

constexpr std::size_t kElements = 150000;

std::string workDirectory() {
  static const std::string dir = [] {
    auto path = std::filesystem::temp_directory_path() / "zelka-xml-bench";
    std::filesystem::create_directories(path);
    return path.string() + "/";
  }();
  return dir;
}

std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// One-character names a learned store holds: kana and the kanji that Shift_JIS writes.
const std::vector<std::u16string>& alphabet() {
  static const std::vector<std::u16string> letters = [] {
    std::vector<std::u16string> out;
    std::string scratch;
    for (char32_t c = 0x3041; c <= 0x30F6; ++c) {
      scratch.clear();
      if (zelka::encodeShiftJisStrict(c, scratch)) out.push_back(std::u16string(1, char16_t(c)));
    }
    for (char32_t c = 0x4E00; c <= 0x9FA0 && out.size() < 3000; ++c) {
      scratch.clear();
      if (zelka::encodeShiftJisStrict(c, scratch)) out.push_back(std::u16string(1, char16_t(c)));
    }
    return out;
  }();
  return letters;
}

// Builds the bind network breadth first: the root takes 2,000 characters, every further node
// up to 12, until the tree holds kElements elements. Deterministic.
const std::string& storeFile() {
  static const std::string path = [] {
    std::string file = workDirectory() + "bind.xml";
    XmlDocument doc;
    doc.open(wide(file));
    XmlNode root = doc.appendDocumentElement(u"Bind");
    root.setAttribute(u"name", u"root");
    std::mt19937 random(20261208);
    std::uniform_real_distribution<double> distance(0.0, 1.5);
    std::vector<XmlNode> queue{root};
    std::size_t count = 1;
    const auto& letters = alphabet();
    for (std::size_t head = 0; count < kElements && head < queue.size(); ++head) {
      XmlNode parent = queue[head];
      std::size_t children = head == 0 ? 2000 : random() % 13;
      double total = 0;
      for (std::size_t i = 0; i < children && count < kElements; ++i) {
        XmlNode child =
            parent.insertSorted(u"Bind", u"name", letters[random() % letters.size()]);
        if (!child) continue;
        child.setAttributeNumber(u"distance", distance(random));
        child.setAttributeNumber(u"total", 0.0);
        total += 1;
        queue.push_back(child);
        ++count;
      }
      parent.setAttributeNumber(u"total", total);
    }
    if (!doc.save(wide(file))) std::abort();
    return file;
  }();
  return path;
}

double secondsOf(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double xmllintSeconds(const std::string& file) {
  std::string command = "xmllint --noout '" + file + "'";
  auto start = std::chrono::steady_clock::now();
  int status = std::system(command.c_str());
  auto elapsed = std::chrono::steady_clock::now() - start;
  if (status != 0) std::abort();
  return secondsOf(elapsed);
}

struct Totals {
  double seconds = 0;
  long runs = 0;
  double mean() const { return runs ? seconds / static_cast<double>(runs) : 0; }
};
Totals openTotals, saveTotals, xmllintTotals, savedXmllintTotals;

// Each iteration opens the store through the wrapper, then xmllint parses the same file.
void BM_OpenStoreBesideXmllint(benchmark::State& state) {
  const std::string& file = storeFile();
  state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(file)) / 1e6;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    {
      XmlDocument doc;
      if (doc.open(wide(file)) != XmlOpenResult::Loaded) std::abort();
      benchmark::DoNotOptimize(doc.documentElement(u"Bind"));
    }
    double open = secondsOf(std::chrono::steady_clock::now() - start);
    double lint = xmllintSeconds(file);
    state.SetIterationTime(open);
    openTotals.seconds += open;
    ++openTotals.runs;
    xmllintTotals.seconds += lint;
    ++xmllintTotals.runs;
  }
  state.counters["xmllint_ms"] = xmllintTotals.mean() * 1e3;
  state.counters["open_vs_xmllint"] = openTotals.mean() / xmllintTotals.mean();
}
BENCHMARK(BM_OpenStoreBesideXmllint)->UseManualTime()->Unit(benchmark::kMillisecond)
    ->Iterations(8);

// Each iteration saves the loaded store crash-safely (Shift_JIS, references, fsync, rename),
// then xmllint parses the file just written.
void BM_SaveStoreBesideXmllint(benchmark::State& state) {
  const std::string& file = storeFile();
  XmlDocument doc;
  if (doc.open(wide(file)) != XmlOpenResult::Loaded) std::abort();
  std::string copy = workDirectory() + "bind-saved.xml";
  Totals& lint = savedXmllintTotals;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    if (!doc.save(wide(copy))) std::abort();
    double save = secondsOf(std::chrono::steady_clock::now() - start);
    lint.seconds += xmllintSeconds(copy);
    ++lint.runs;
    state.SetIterationTime(save);
    saveTotals.seconds += save;
    ++saveTotals.runs;
  }
  state.counters["xmllint_ms"] = lint.mean() * 1e3;
  state.counters["save_vs_xmllint"] = saveTotals.mean() / lint.mean();
}
BENCHMARK(BM_SaveStoreBesideXmllint)->UseManualTime()->Unit(benchmark::kMillisecond)
    ->Iterations(8);

// The part of a save that is ours: serialising and encoding to Shift_JIS, no disk.
void BM_SerializeStore(benchmark::State& state) {
  XmlDocument doc;
  if (doc.open(wide(storeFile())) != XmlOpenResult::Loaded) std::abort();
  for (auto _ : state) benchmark::DoNotOptimize(doc.serialize());
}
BENCHMARK(BM_SerializeStore)->Unit(benchmark::kMillisecond)->Iterations(8);

// findChildByKey among `children` children, over every key in a scrambled order.
void BM_FindChildByKey(benchmark::State& state) {
  const auto children = static_cast<std::size_t>(state.range(0));
  XmlDocument doc;
  doc.openFromText("<Bind name=\"root\"/>");
  XmlNode root = doc.documentElement(u"Bind");
  const auto& letters = alphabet();
  std::vector<std::u16string> keys;
  for (std::size_t i = 0; keys.size() < children; ++i) {
    std::u16string key = letters[i % letters.size()] + letters[(i / letters.size()) % letters.size()];
    if (root.insertSorted(u"Bind", u"name", key)) keys.push_back(key);
  }
  std::shuffle(keys.begin(), keys.end(), std::mt19937(5));
  std::size_t next = 0;
  for (auto _ : state) {
    auto found = root.findChildByKey(u"name", keys[next]);
    benchmark::DoNotOptimize(found.match);
    if (++next == keys.size()) next = 0;
  }
  state.counters["children"] = static_cast<double>(children);
}
BENCHMARK(BM_FindChildByKey)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kNanosecond)
    ->Repetitions(5)->ReportAggregatesOnly(true);

// Records the lookup figures for the summary line.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      // The medians of the repetitions (CPU time: the machine may be shared).
      if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
      if (run.run_name.function_name != "BM_FindChildByKey") continue;
      if (run.run_name.args == "100") small_ = run.GetAdjustedCPUTime();
      if (run.run_name.args == "10000") large_ = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double small_ = 0;
  double large_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf(
      "summary: open %.1f ms, xmllint --noout %.1f ms (open/xmllint %.2f, target <= 2); "
      "save %.1f ms, xmllint --noout on it %.1f ms (save/xmllint %.2f, target <= 3); lookup "
      "10000 children %.0f ns, 100 children %.0f ns CPU, medians (ratio %.2f, target <= 3)\n",
      openTotals.mean() * 1e3, xmllintTotals.mean() * 1e3,
      xmllintTotals.mean() > 0 ? openTotals.mean() / xmllintTotals.mean() : 0.0,
      saveTotals.mean() * 1e3, savedXmllintTotals.mean() * 1e3,
      savedXmllintTotals.mean() > 0 ? saveTotals.mean() / savedXmllintTotals.mean() : 0.0,
      reporter.large_, reporter.small_,
      reporter.small_ > 0 ? reporter.large_ / reporter.small_ : 0.0);
  benchmark::Shutdown();
  std::filesystem::remove_all(workDirectory());
  return 0;
}
