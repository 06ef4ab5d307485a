// A long soak through the exported functions: 100,000 mixed requests on one loaded ghost, as
// a host would send them over a long session: timer ticks (which raise free talk and collect
// what the think thread heard), events with and without talk, sentences heard from another
// character, GET Word with randomly composed scripts, GET String and the small commands.
// Every response is checked for its shape (status line "SHIORI/2.6 <code> <text>", lines
// ended by CR LF, one empty line at the end and none before it). Resident memory is sampled
// every 10,000 requests; at the end it must be within 10% of the sample after the first
// 10,000 (the vocabulary is fixed, so learning saturates and nothing should keep growing).
// Inputs come from a fixed seed: every run sends the same requests.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "module_session.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRequests = 100'000;
constexpr int kSampleEvery = 10'000;

const char* const kConfig =
    "<?xml version='1.0' encoding='Shift_JIS'?>\r\n"
    "<ZelkaConfiguration>\r\n"
    "  <GhostProfile locale=\"Japanese\" ghost_id=\"soak\" ghost_name=\"Soak\""
    " birthday=\"2001/05/03\" talk_interval=\"7\" listen_wait=\"4\" think_wait=\"3\"/>\r\n"
    "  <RunEnvironment runlevel=\"0\">\r\n"
    "    <Directory type=\"vender\" name=\"vender/\"/>\r\n"
    "    <Directory type=\"learning\" name=\"_learning/\"/>\r\n"
    "  </RunEnvironment>\r\n"
    "  <DefaultCategory><Define type=\"ms\" category=\"fruit\"/></DefaultCategory>\r\n"
    "  <ReferenceSeparation><S event=\"OnMouseClick\" reference=\"1\" expr=\"*,\"/>"
    "</ReferenceSeparation>\r\n"
    "</ZelkaConfiguration>\r\n";

std::string block(const std::string& token, const std::string& script) {
  return "{\ntoken: " + token + "\nscript: " + script + "\n}\n";
}

std::string knowledge() {
  return "[ZELKA KNOWLEDGE 2.0]\n" +
         block("OnBoot", "\\0\\s[0]hello %username()\\e") +
         block("OnMouseClick", "click %ref0 %ref1[1] %if(%rand[3] > 1){a}else{b}") +
         block("OnTalk", "talk %ms[] %reflex[__Sender] %token[OnInner]") +
         block("OnInner", "inner %rand[9]") +
         block("OnZelkaFreeTalk", "free %ref0 %mz[fruit]") +
         block("OnZelkaCommunicate", "heard %reflex[__Sentence] %commu[apple pie]") +
         block("OnZelkaCommunicateTimeout", "late %reflex[__Think_state]") +
         block("OnZelkaListenTimeout", "timeout %ref0") +
         block("OnZelkaGetResource", "resource %reflex[__ID]");
}

const char* const kDictionary =
    "[ZELKA DICTIONARY]\n"
    "[fruit]\n"
    "apple ringo\n"
    "pear melon\n"
    "[food]\n"
    "fruit bread pie\n";

// Pieces of the random scripts (variable names and words from small fixed sets).
const char* const kScriptPieces[] = {
    "%rand[100]",
    "%formula[%rand[9] * 3,int]",
    "%if(%rand[3] > 1){hi}elseif(%rand[2]){mid}else{lo}",
    "%ms[fruit]",
    "%unify[(\"fruit\"),apple]",
    "%reflex[__Sender]",
    "%strcmp[a,%rand[2]]",
    "\\formula[v%rand[5] = %rand[100]]",
    "%reflex[v%rand[5],double]",
    "%BYTE[6%rand[9]]",
    "%token[OnTalk]",
    "\\0\\s[%rand[9]]",
    "%year/%month/%day %hour:%minute",
    "%here[Anna]",
    "%match[apple]",
    "%username",
    "\"quoted %rand[3]\"",
    "plain words ",
    "%formula[\"x\" = \"x\"]",
    "%nothing[x]",
};

const char* const kSentences[] = {
    "apple pie is good", "I like pear", "bread and melon", "ringo ringo", "the fruit basket",
};

long residentKb() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

bool wellFormed(std::string_view text) {
  constexpr std::string_view kVersion = "SHIORI/2.6 ";
  if (!text.starts_with(kVersion)) return false;
  const std::size_t lineEnd = text.find("\r\n");
  if (lineEnd == std::string_view::npos) return false;
  const std::string_view status = text.substr(kVersion.size(), lineEnd - kVersion.size());
  if (status.size() < 5 || status[3] != ' ') return false;
  for (int i = 0; i < 3; ++i) {
    if (status[i] < '0' || status[i] > '9') return false;
  }
  if (!text.ends_with("\r\n\r\n") || text.find("\r\n\r\n") != text.size() - 4) return false;
  // Every line ends with CR LF: no bare line feed.
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
  }
  return true;
}

class Ghost {
 public:
  Ghost()
      : module_(zelka::bench::GhostFiles{{"zelkaconf.xml", kConfig},
                 {"vender/talk.tlk", knowledge()},
                 {"vender/words.mem", kDictionary}},
                /*enterGhostDirectory=*/true) {}
  bool loaded() const { return module_.loaded(); }

  int answered200 = 0;
  int answered204 = 0;
  int answeredOther = 0;

  // Sends one request; false when the response is missing or malformed. Counts the status
  // codes answered.
  bool send(const std::string& text) {
    const zelka::bench::ModuleResponse response = module_.request(text);
    const bool ok = response.present && response.lengthMatches && wellFormed(response.text);
    if (ok) {
      const int code = std::atoi(response.text.c_str() + 11);
      if (code == 200) ++answered200;
      else if (code == 204) ++answered204;
      else ++answeredOther;
    }
    if (show_ > 0) {
      --show_;
      std::fprintf(stderr, "%s-> %s\n", text.c_str(),
                   response.present ? response.text.c_str() : "(null)");
    }
    if (!ok && malformedShown_++ < 3) {
      std::fprintf(stderr, "malformed response to:\n%s\n", text.c_str());
    }
    return ok;
  }

 private:
  zelka::bench::ModuleSession module_;
  int malformedShown_ = 0;
  // ZELKA_SOAK_SHOW=n prints the first n exchanges.
  int show_ = std::getenv("ZELKA_SOAK_SHOW") ? std::atoi(std::getenv("ZELKA_SOAK_SHOW")) : 0;
};

// The next request of the mix.
std::string nextRequest(std::mt19937& random, int& second) {
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const int kind = pick(100);
  const std::string sentence = "GET Sentence SHIORI/2.2\r\n";
  if (kind < 25) {
    second = (second + 1) % 60;
    return sentence + "Sender: SSP\r\nEvent: OnSecondChange\r\nReference0: " +
           std::to_string(second) + "\r\nReference1: 1\r\n\r\n";
  }
  if (kind < 40) {
    static const char* const kEvents[] = {"OnBoot", "OnMouseClick", "OnTalk"};
    return sentence + "Sender: SSP\r\nEvent: " + kEvents[pick(3)] +
           "\r\nReference0: 0\r\nReference1: 1,Head,2\r\n\r\n";
  }
  if (kind < 50) {
    static const char* const kSilent[] = {"OnMinuteChange", "OnMouseDoubleClick", "OnClose"};
    return sentence + "Sender: SSP\r\nEvent: " + kSilent[pick(3)] + "\r\nReference0: 5\r\n\r\n";
  }
  if (kind < 60) {
    return sentence + "Sender: Anna\r\nSentence: " + kSentences[pick(5)] +
           "\r\nAge: " + std::to_string(pick(5)) + "\r\nSecurityLevel: local\r\n\r\n";
  }
  if (kind < 80) {
    std::string script;
    const int pieces = 1 + pick(4);
    for (int i = 0; i < pieces; ++i) script += kScriptPieces[pick(std::size(kScriptPieces))];
    return "GET Word SHIORI/2.0\r\nType: " + script + "\r\n\r\n";
  }
  if (kind < 90) {
    return "GET String SHIORI/2.5\r\nID: res" + std::to_string(pick(4)) + "\r\n\r\n";
  }
  switch (pick(4)) {
    case 0: return "GET Version SHIORI/2.0\r\nSender: SSP\r\n\r\n";
    case 1: return "GET Status SHIORI/2.0\r\n\r\n";
    case 2: return "NOTIFY OtherGhostName SHIORI/2.3\r\nGhost: x\r\nGhostEx: Anna\r\n\r\n";
    default: return "NOTIFY OwnerGhostName SHIORI/2.3\r\nGhost: Soak\r\n\r\n";
  }
}

void BM_Soak(benchmark::State& state) {
  for (auto _ : state) {
    Ghost ghost;
    if (!ghost.loaded()) {
      state.SkipWithError("the soak ghost did not load");
      return;
    }
    std::mt19937 random(20261208u);
    int second = 0;
    int malformed = 0;
    std::vector<long> samples;
    const auto start = std::chrono::steady_clock::now();
    for (int n = 1; n <= kRequests; ++n) {
      if (!ghost.send(nextRequest(random, second))) ++malformed;
      if (n % kSampleEvery == 0) samples.push_back(residentKb());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const double growth = 100.0 * (samples.back() - samples.front()) / samples.front();
    std::printf("soak: %d requests in %.2f s (%.0f requests/s), %d malformed responses\n",
                kRequests, seconds, kRequests / seconds, malformed);
    std::printf("soak: answers 200: %d, 204: %d, other: %d\n", ghost.answered200,
                ghost.answered204, ghost.answeredOther);
    std::printf("soak: resident memory (KiB) every %d requests:", kSampleEvery);
    for (long kb : samples) std::printf(" %ld", kb);
    std::printf("\nsoak: growth after the first %d requests: %+.1f%% (limit 10%%)\n",
                kSampleEvery, growth);
    state.counters["requests_per_s"] = kRequests / seconds;
    state.counters["rss_kib_at_10k"] = static_cast<double>(samples.front());
    state.counters["rss_kib_at_end"] = static_cast<double>(samples.back());
    state.counters["rss_growth_pct"] = growth;
    state.counters["malformed"] = malformed;
    if (malformed > 0) state.SkipWithError("malformed responses");
    if (growth > 10.0) state.SkipWithError("resident memory grew more than 10%");
  }
}
BENCHMARK(BM_Soak)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
