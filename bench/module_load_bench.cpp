// Module load and unload with a large learned store, through the exported functions as a host
// calls them: the learning directory holds a bind network of 100,000 nodes and a word index and
// neuron network of 20,000 words each; load reads all four stores, unload writes them back.
// Reports the wall time of each and the peak resident memory of the process.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/text_codec.h"
#include "store_fixture.h"

namespace {

double peakResidentMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // Linux reports kilobytes
}

void* mallocCopy(const std::string& text) {
  void* block = std::malloc(text.size() + 1);
  std::memcpy(block, text.c_str(), text.size() + 1);
  return block;
}

void BM_ModuleLoadUnloadLargeStore(benchmark::State& state) {
  zelka::bench::StoreFixture fixture;
  const std::string directory = zelka::toNarrow(fixture.moduleDirectory());
  const double residentBeforeMb = peakResidentMb();
  double loadSeconds = 0, unloadSeconds = 0;
  for (auto _ : state) {
    void* handle = dlopen(ZELKA_BINARY_DIR "/zelka.so", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      state.SkipWithError("zelka.so not found");
      return;
    }
    auto load = reinterpret_cast<int (*)(void*, long)>(dlsym(handle, "load"));
    auto unload = reinterpret_cast<int (*)()>(dlsym(handle, "unload"));
    auto start = std::chrono::steady_clock::now();
    int loaded = load(mallocCopy(directory), static_cast<long>(directory.size()));
    auto middle = std::chrono::steady_clock::now();
    unload();
    auto end = std::chrono::steady_clock::now();
    dlclose(handle);
    if (loaded != 1) {
      state.SkipWithError("load failed");
      return;
    }
    const double loadS = std::chrono::duration<double>(middle - start).count();
    const double unloadS = std::chrono::duration<double>(end - middle).count();
    loadSeconds += loadS;
    unloadSeconds += unloadS;
    state.SetIterationTime(loadS + unloadS);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["load_ms"] = 1000.0 * loadSeconds / n;
  state.counters["unload_ms"] = 1000.0 * unloadSeconds / n;
  state.counters["peak_rss_mb"] = peakResidentMb();
  state.counters["rss_before_load_mb"] = residentBeforeMb;
}
BENCHMARK(BM_ModuleLoadUnloadLargeStore)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
