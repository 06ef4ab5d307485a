// A host's request round trip through the exported functions: the module is mapped and
// loaded on a temporary copy of the sample ghost, then "GET Version" is sent again and again
// (request block from malloc, response released with free, as a host does). Reports the time
// of one round trip; the median of the repetitions is the figure that counts.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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

void* mallocCopy(const std::string& text) {
  void* block = std::malloc(text.size() + 1);
  std::memcpy(block, text.c_str(), text.size() + 1);
  return block;
}

class LoadedModule {
 public:
  LoadedModule() {
    std::string pattern = (fs::temp_directory_path() / "zelka-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    dir_ = pattern + "/";
    fs::create_directories(dir_ + "vender");
    std::ofstream(dir_ + "zelkaconf.xml", std::ios::binary) << sampleConfig();
    handle_ = dlopen(ZELKA_BINARY_DIR "/zelka.so", RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) return;
    auto load = reinterpret_cast<int (*)(void*, long)>(dlsym(handle_, "load"));
    request_ = reinterpret_cast<void* (*)(void*, long*)>(dlsym(handle_, "request"));
    unload_ = reinterpret_cast<int (*)()>(dlsym(handle_, "unload"));
    if (load == nullptr || request_ == nullptr || unload_ == nullptr) return;
    loaded_ = load(mallocCopy(dir_), static_cast<long>(dir_.size())) == 1;
  }
  ~LoadedModule() {
    if (unload_ != nullptr) unload_();
    if (handle_ != nullptr) dlclose(handle_);
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }
  bool loaded() const { return loaded_; }

  std::size_t roundTrip(const std::string& text) {
    long len = static_cast<long>(text.size());
    void* response = request_(mallocCopy(text), &len);
    if (response == nullptr) return 0;
    std::free(response);
    return static_cast<std::size_t>(len);
  }

 private:
  std::string dir_;
  void* handle_ = nullptr;
  void* (*request_)(void*, long*) = nullptr;
  int (*unload_)() = nullptr;
  bool loaded_ = false;
};

void BM_GetVersionRoundTrip(benchmark::State& state) {
  static LoadedModule module;
  if (!module.loaded()) {
    state.SkipWithError("the module did not load");
    return;
  }
  const std::string text = "GET Version SHIORI/2.0\r\nSender: bench\r\n\r\n";
  std::size_t bytes = 0;
  for (auto _ : state) {
    bytes = module.roundTrip(text);
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["response_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_GetVersionRoundTrip)->Unit(benchmark::kMicrosecond)->Repetitions(9)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
