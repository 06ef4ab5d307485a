// Learning at start-up and association at request time.
//
// Import: a generated dictionary of 10,000 entry lines (two words each) under 50 categories,
// dropped into the vendor directory of a module with an empty learning directory, read
// through LearningEngine::start (configuration, four fresh stores, import, move, save).
// Reported: words per second by the clock and by processor time (target at least 2,000).
//
// Association: one category query (associateCall with depth 3) on a learned store of 20,000
// words, cycling over its categories. Reported: median microseconds per query (target under
// 200).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "learning/learning_engine.h"
#include "platform/text_codec.h"
#include "store_fixture.h"

namespace zelka {
namespace {

constexpr int kEntryLines = 10000;
constexpr int kWordsPerLine = 2;
constexpr int kCategories = 50;

class Lcg {
 public:
  explicit Lcg(std::uint32_t seed) : x_(seed) {}
  std::uint32_t below(std::uint32_t n) {
    x_ = x_ * 1664525u + 1013904223u;
    return (x_ >> 8) % n;
  }

 private:
  std::uint32_t x_;
};

void writeFile(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Distinct words of two to four characters (hiragana and kanji with a Shift_JIS form).
std::vector<std::u16string> generateWords(std::size_t count, std::uint32_t seed) {
  std::vector<char16_t> alphabet;
  std::string scratch;
  for (char32_t c = 0x3041; c <= 0x9FA0 && alphabet.size() < 2500; ++c) {
    if (c > 0x3093 && c < 0x4E00) continue;
    scratch.clear();
    if (encodeShiftJisStrict(c, scratch)) alphabet.push_back(static_cast<char16_t>(c));
  }
  Lcg random(seed);
  std::set<std::u16string> seen;
  std::vector<std::u16string> words;
  while (words.size() < count) {
    std::u16string w;
    const std::uint32_t length = 2 + random.below(3);
    for (std::uint32_t i = 0; i < length; ++i) {
      w.push_back(alphabet[random.below(static_cast<std::uint32_t>(alphabet.size()))]);
    }
    if (seen.insert(w).second) words.push_back(std::move(w));
  }
  return words;
}

std::string generateDictionary() {
  std::vector<std::u16string> words =
      generateWords(kEntryLines * kWordsPerLine + kCategories, 20261208);
  std::string text = "[ZELKA DICTIONARY]\n";
  const int linesPerCategory = kEntryLines / kCategories;
  std::size_t next = kCategories;
  for (int c = 0; c < kCategories; ++c) {
    text += "[" + toNarrow(words[static_cast<std::size_t>(c)]) + "]\n";
    for (int l = 0; l < linesPerCategory; ++l) {
      for (int w = 0; w < kWordsPerLine; ++w) {
        if (w > 0) text += ' ';
        text += toNarrow(words[next++]);
      }
      text += '\n';
    }
  }
  return text;
}

class ModuleDirectory {
 public:
  ModuleDirectory() {
    dir_ = std::filesystem::temp_directory_path() /
           ("zelka-bench-learning-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir_ / "vendor");
    writeFile(dir_ / "zelkaconf.xml",
              "<?xml version='1.0' encoding='Shift_JIS'?>\n"
              "<ZelkaConfiguration><GhostProfile ghost_name=\"bench\"/>"
              "<RunEnvironment runlevel=\"0\"><Directory type=\"vender\" name=\"vendor/\"/>"
              "<Directory type=\"learning\" name=\"learning/\"/></RunEnvironment>"
              "</ZelkaConfiguration>\n");
  }
  ~ModuleDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  // Empties the learning and learned directories and drops the dictionary in again.
  void reset(const std::string& dictionary) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_ / "learning", ignored);
    std::filesystem::remove_all(dir_ / "vendor" / "learned", ignored);
    writeFile(dir_ / "vendor" / "words.mem", dictionary);
  }
  std::u16string module() const { return dir_.u16string() + u"/"; }

 private:
  std::filesystem::path dir_;
};

void BM_ImportDictionary(benchmark::State& state) {
  const std::string dictionary = generateDictionary();
  ModuleDirectory dir;
  double seconds = 0;
  double cpuSeconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    dir.reset(dictionary);
    state.ResumeTiming();
    const auto begin = std::chrono::steady_clock::now();
    const std::clock_t cpuBegin = std::clock();
    LearningEngine engine;
    bool ok = engine.start(dir.module());
    cpuSeconds += static_cast<double>(std::clock() - cpuBegin) / CLOCKS_PER_SEC;
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    benchmark::DoNotOptimize(ok);
    state.PauseTiming();
    engine.shutdown();   // the final save at unload is not part of the import
    state.ResumeTiming();
  }
  const double words = static_cast<double>(kEntryLines * kWordsPerLine);
  state.counters["words"] = words;
  const double runs = static_cast<double>(state.iterations());
  state.counters["words_per_second"] = words * runs / seconds;
  // The same over processor time, which a busy machine inflates less than the clock.
  state.counters["words_per_cpu_second"] = words * runs / cpuSeconds;
}
BENCHMARK(BM_ImportDictionary)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_AssociateCategory(benchmark::State& state) {
  bench::StoreShape shape;
  bench::StoreFixture fixture(shape);
  LearningEngine engine;
  if (!engine.start(fixture.moduleDirectory())) {
    state.SkipWithError("the learned store did not load");
    return;
  }
  // The first words of the generated index are the category neurons' words.
  std::vector<std::u16string> queries;
  for (int c = 0; c < shape.categories; ++c) {
    queries.push_back(fixture.words()[static_cast<std::size_t>(c)] + u", 3");
  }
  std::vector<double> micros;
  std::size_t next = 0;
  std::u16string word;
  for (auto _ : state) {
    const auto begin = std::chrono::steady_clock::now();
    bool ok = engine.associateCall(queries[next], word);
    micros.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin)
            .count());
    benchmark::DoNotOptimize(ok);
    next = (next + 1) % queries.size();
  }
  std::sort(micros.begin(), micros.end());
  if (!micros.empty()) state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["words"] = shape.words;
}
BENCHMARK(BM_AssociateCategory)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace zelka

BENCHMARK_MAIN();
