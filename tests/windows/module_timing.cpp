// Measures what a host waits for, through the exports of the module beside this program:
// mapping the module, load on a fresh ghost and on one with a learned store, and the request
// round trip (host block in, response block out and freed). Built for Linux and for Windows
// so that build-windows.sh prints the figures of zelka.so and of zelka.dll under Wine side
// by side. A measurement, not a test: nothing is asserted.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "windows/ghost_files.h"
#include "windows/module_library.h"

namespace {

using zelka::testing::ModuleLibrary;
using zelka::testing::TempGhost;
using Clock = std::chrono::steady_clock;

double microseconds(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// A deterministic dictionary of `count` two-character words under ten categories.
std::string dictionary(int count) {
  std::string text = "[ZELKA DICTIONARY]\n";
  for (int i = 0; i < count; ++i) {
    if (i % (count / 10) == 0) text += "[cat" + std::to_string(i / (count / 10)) + "]\n";
    unsigned a = 0x889F + static_cast<unsigned>(i * 7919) % 2000;
    unsigned b = 0x889F + static_cast<unsigned>(i * 104729) % 2000;
    for (unsigned code : {a, b}) {
      unsigned lead = 0x88 + (code - 0x889F) / 94 % 20;
      unsigned trail = 0x9F + (code - 0x889F) % 94;
      text += static_cast<char>(lead);
      text += static_cast<char>(trail);
    }
    text += (i % 8 == 7) ? "\n" : " ";
  }
  return text + "\n";
}

struct Figures {
  double median;
  double mean;
};

Figures summarise(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  double sum = 0;
  for (double s : samples) sum += s;
  return {samples[samples.size() / 2], sum / static_cast<double>(samples.size())};
}

}  // namespace

int main() {
#if defined(_WIN32)
  const char* platform = "zelka.dll (Windows)";
#else
  const char* platform = "zelka.so (native)";
#endif
  TempGhost ghost;
  ghost.write("zelkaconf.xml", zelka::testing::ghostConfig());
  ghost.write("vender/talk.tlk",
              zelka::testing::knowledgeFile(
                  zelka::testing::knowledgeBlock("OnZelkaGetResource", "%reflex[__ID] is here") +
                  zelka::testing::knowledgeBlock("OnZelkaFreeTalk", "idle")));
  ghost.write("vender/words.mem", dictionary(2000));

  // First session: maps the module, imports the dictionary, saves the stores.
  auto mapStart = Clock::now();
  auto module = std::make_unique<ModuleLibrary>();
  double mapTime = microseconds(Clock::now() - mapStart);
  if (!module->ok()) {
    std::printf("%s: the module cannot be mapped\n", platform);
    return 1;
  }
  auto importStart = Clock::now();
  int loaded = module->load(ghost.dir());
  double importTime = microseconds(Clock::now() - importStart);
  module->unload();
  module.reset();

  // Later sessions: load on the learned store (mean of a few).
  std::vector<double> loads;
  for (int i = 0; i < 5; ++i) {
    module = std::make_unique<ModuleLibrary>();
    auto start = Clock::now();
    loaded &= module->load(ghost.dir());
    loads.push_back(microseconds(Clock::now() - start));
    if (i < 4) {
      module->unload();
      module.reset();
    }
  }

  const std::string requests[][2] = {
      {"GET Version", "GET Version SHIORI/2.0\r\nSender: timing\r\n\r\n"},
      {"GET String (script)", "GET String SHIORI/2.5\r\nID: timing\r\n\r\n"},
  };
  std::printf("%s: map %.0f us, first load with a 2000-word import %.1f ms, load on the learned "
              "store %.1f ms (median of 5)%s\n",
              platform, mapTime, importTime / 1000, summarise(loads).median / 1000,
              loaded == 1 ? "" : " [a load failed]");
  for (const auto& [name, text] : requests) {
    std::vector<double> samples;
    for (int i = 0; i < 200; ++i) module->send(text);  // warm-up
    for (int i = 0; i < 5000; ++i) {
      auto start = Clock::now();
      module->send(text);
      samples.push_back(microseconds(Clock::now() - start));
    }
    Figures f = summarise(samples);
    std::printf("%s: request round trip, %s: median %.1f us, mean %.1f us (5000 requests)\n",
                platform, name.c_str(), f.median, f.mean);
  }
  module->unload();
  return 0;
}
