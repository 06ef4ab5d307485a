// Reading the authored knowledge files at load: 1 MB of generated knowledge files (ten files of
// about 100 KB, blocks with tokens, conditions and several scripts of Japanese talk with meta
// elements), read into a knowledge base as start-up reads them, plain and complemented.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/text_codec.h"
#include "script/knowledge_base.h"
#include "script/knowledge_file.h"

namespace {

namespace fs = std::filesystem;

std::string knowledgeText(int fileIndex, std::size_t targetBytes) {
  std::string text = "[ZELKA KNOWLEDGE 2.0]\n";
  const std::string talk = zelka::toNarrow(
      u"\\0\\s[0]今日は%month月%day日だね。%ms[]さんは元気かな？\\n"
      u"%if(__count > 3){よく話すね。}else{そうなの？}\\1\\s[10]ふーん。\\e");
  for (int block = 0; text.size() < targetBytes; ++block) {
    text += "{\n";
    text += "token: OnEvent" + std::to_string(fileIndex) + "_" + std::to_string(block % 50) + " 0\n";
    text += "conditional: __count >= " + std::to_string(block % 7) + "\n";
    for (int s = 0; s < 4; ++s) {
      text += "script: " + talk + " // comment\n";
      text += "  \"quoted %text stays\" " + talk + "\n";
    }
    text += "}\n";
  }
  return text;
}

class KnowledgeFiles {
 public:
  explicit KnowledgeFiles(bool scrambled) {
    dir_ = fs::temp_directory_path() /
           ("zelka-bench-knowledge-" + std::to_string(scrambled) + "-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir_);
    for (int i = 0; i < 10; ++i) {
      std::string text = knowledgeText(i, 100 * 1024);
      bytes_ += text.size();
      if (scrambled) {
        std::string complemented;
        zelka::scrambleKnowledgeText(text, complemented);
        text = complemented;
      }
      fs::path path = dir_ / ("talk" + std::to_string(i) + (scrambled ? ".tlc" : ".tlk"));
      std::ofstream(path, std::ios::binary) << text;
      paths_.push_back(path.string());
    }
  }
  ~KnowledgeFiles() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  const std::vector<std::string>& paths() const { return paths_; }
  std::size_t bytes() const { return bytes_; }

 private:
  fs::path dir_;
  std::vector<std::string> paths_;
  std::size_t bytes_ = 0;
};

void readAll(benchmark::State& state, bool scrambled) {
  KnowledgeFiles files(scrambled);
  std::size_t entries = 0;
  for (auto _ : state) {
    zelka::KnowledgeBase base;
    for (const std::string& path : files.paths()) {
      zelka::parseKnowledgeFile(u"OnZelkaFreeTalk", path, zelka::kKnowledgeFileHeader, scrambled,
                                base);
    }
    entries = base.size();
    benchmark::DoNotOptimize(entries);
  }
  state.counters["bytes"] = static_cast<double>(files.bytes());
  state.counters["entries"] = static_cast<double>(entries);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * files.bytes()));
}

void BM_ReadOneMegabyteOfKnowledgeFiles(benchmark::State& state) { readAll(state, false); }
void BM_ReadOneMegabyteOfComplementedKnowledgeFiles(benchmark::State& state) { readAll(state, true); }
BENCHMARK(BM_ReadOneMegabyteOfKnowledgeFiles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadOneMegabyteOfComplementedKnowledgeFiles)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
