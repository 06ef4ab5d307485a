// Fuzz target: requests through the server's exported-function bodies (exportRequest) on a
// small fixed ghost: protocol parsing, dispatch, event handling with timer, touch and think
// conversions, talk selection and expansion, rendering. The input is one request, or up to four
// in a row, each ended by its empty line. Every response must be a well-formed block: the
// status line "SHIORI/2.6 <code> <text>", lines ended by CR LF, one empty line at the end and
// none before it. The ghost is loaded afresh every thousand inputs from its first state.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "fuzz_support.h"
#include "shiori/shiori_server.h"

namespace {

std::string config(int runlevel) {
  return "<?xml version='1.0' encoding='Shift_JIS'?>\r\n"
         "<ZelkaConfiguration>\r\n"
         "  <GhostProfile locale=\"Japanese\" ghost_id=\"fuzz\" ghost_name=\"Fuzz\""
         " birthday=\"2001/05/03\" talk_interval=\"3\" listen_wait=\"2\" think_wait=\"1\"/>\r\n"
         "  <RunEnvironment runlevel=\"" + std::to_string(runlevel) + "\">\r\n"
         "    <Directory type=\"vender\" name=\"vender/\"/>\r\n"
         "    <Directory type=\"learning\" name=\"_learning/\"/>\r\n"
         "  </RunEnvironment>\r\n"
         "  <DefaultCategory><Define type=\"ms\" category=\"fruit\"/></DefaultCategory>\r\n"
         "  <ReferenceSeparation>\r\n"
         "    <Split event=\"OnMouseClick\" reference=\"0\" expr=\"*,\"/>\r\n"
         "    <Split event=\"OnMouseClick\" reference=\"1\" expr=\"&lt;*&gt;\"/>\r\n"
         "    <Split event=\"OnEcho\" reference=\"0\" expr=\"\\**\"/>\r\n"
         "  </ReferenceSeparation>\r\n"
         "  <EventRename><Rename name=\"OnBoot\" rename=\"OnStart\"/>"
         "<Rename name=\"OnZelkaFreeTalk\" rename=\"OnIdle\"/></EventRename>\r\n"
         "</ZelkaConfiguration>\r\n";
}

std::string block(const std::string& token, const std::string& script,
                  const std::string& conditional = "") {
  std::string text = "{\ntoken: " + token + "\n";
  if (!conditional.empty()) text += "conditional: " + conditional + "\n";
  return text + "script: " + script + "\n}\n";
}

std::string knowledge() {
  return "[ZELKA KNOWLEDGE 2.0]\n" +
         block("OnStart", "\\0\\s[0]hello %username() %year/%month/%day\\e") +
         block("OnIdle", "idle=%ref0 %ms[] %if(%rand[3] > 1){a}elseif(1){b}else{c}") +
         block("OnZelkaCommunicate", "heard=%reflex[__Sentence] %commu[hello] %exh") +
         block("OnZelkaCommunicateTimeout", "late=%reflex[__Think_state]") +
         block("OnZelkaListenTimeout", "\\formula[__Listen_id = \"none\"]timeout=%ref0") +
         block("OnZelkaBodyTouch", "touch=%ref4/%ref5 \\1\\s[10]") +
         block("OnZelkaGetResource", "res=%reflex[__ID]") +
         block("OnMouseClick", "click=%ref0[0]/%ref0[1]/%ref1[2] %strcmp[%ref0,x]") +
         block("OnEcho", "echo=%ref0/%ref0[1]/%ref1 %BYTE[65] \\ti[+]") +
         block("OnAsk", "\\formula[__Listen_id = \"q1\"]ask %token[OnLoop]") +
         block("OnLoop", "%token[OnLoop]") +
         block("OnGuard", "guarded %here[Anna]", "__Age > 2") +
         block("OnZelkaReflexFirstInitialize", "\\formula[first = 1]") +
         block("OnZelkaReflexInitialize", "\\formula[count = count + 1]");
}

constexpr char kDictionary[] =
    "[ZELKA DICTIONARY]\n"
    "[fruit]\n"
    "apple ringo\n"
    "pear\n"
    "[food]\n"
    "fruit bread\n";

bool wellFormed(const char* block, long length) {
  if (block == nullptr || length < 0) return false;
  const std::string_view text(block, static_cast<std::size_t>(length));
  if (std::strlen(block) != text.size()) return false;
  // A 2.x request is answered in 2.6, a 3.0 request in 3.0.
  constexpr std::string_view kVersion = "SHIORI/2.6 ";
  if (!text.starts_with(kVersion) && !text.starts_with("SHIORI/3.0 ")) return false;
  const std::size_t lineEnd = text.find("\r\n");
  if (lineEnd == std::string_view::npos) return false;
  const std::string_view status = text.substr(kVersion.size(), lineEnd - kVersion.size());
  if (status.size() < 5 || status[3] != ' ') return false;
  for (int i = 0; i < 3; ++i) {
    if (status[i] < '0' || status[i] > '9') return false;
  }
  if (!text.ends_with("\r\n\r\n")) return false;
  return text.find("\r\n\r\n") == text.size() - 4;
}

class Fixture {
 public:
  Fixture() {
    std::filesystem::current_path(scratch_.path());   // the diagnostic log goes here
    zelka::fuzz::writeFile(scratch_.file("ghost/vender/talk.tlk"), knowledge());
    zelka::fuzz::writeFile(scratch_.file("ghost/vender/words.mem"), kDictionary);
    zelka::fuzz::writeFile(scratch_.file("ghost/zelkaconf.xml"), config(4));
    load();
    server_.exportUnload();
    std::filesystem::copy(scratch_.file("ghost"), scratch_.file("pristine"),
                          std::filesystem::copy_options::recursive);
    load();
  }

  zelka::ShioriServer& server() {
    if (++runs_ % 1000 == 0) {
      server_.exportUnload();
      std::error_code ignored;
      std::filesystem::remove_all(scratch_.file("ghost"), ignored);
      std::filesystem::copy(scratch_.file("pristine"), scratch_.file("ghost"),
                            std::filesystem::copy_options::recursive);
      zelka::fuzz::writeFile(scratch_.file("ghost/zelkaconf.xml"), config(runs_ % 2000 ? 5 : 4));
      server_.log().open(scratch_.file("zelka.log"));
      load();
    }
    return server_;
  }

 private:
  void load() {
    const std::string directory = scratch_.file("ghost/");
    void* block = std::malloc(directory.size());
    std::memcpy(block, directory.data(), directory.size());
    if (server_.exportLoad(block, static_cast<long>(directory.size())) != 1) {
      zelka::fuzz::fail("the fixed ghost did not load");
    }
  }

  zelka::fuzz::ScratchDir scratch_;
  zelka::ShioriServer server_;
  std::size_t runs_ = 0;
};

Fixture& fixture() {
  static auto* f = new Fixture();
  return *f;
}

constexpr int kRequestsPerInput = 4;

void send(zelka::ShioriServer& server, std::string_view request) {
  // The host's block: exactly the request's bytes (the length tells where it ends).
  void* block = std::malloc(request.empty() ? 1 : request.size());
  std::memcpy(block, request.data(), request.size());
  long length = static_cast<long>(request.size());
  void* response = server.exportRequest(block, &length);
  if (!wellFormed(static_cast<const char*>(response), length)) {
    zelka::fuzz::fail("malformed response");
  }
  std::free(response);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zelka::ShioriServer& server = fixture().server();
  std::string_view input = zelka::fuzz::asText(data, size);
  // At most 4 requests per input, each ended by its empty line: one request may run a script
  // up to the engine's budgets (a few tenths of a second under the sanitizers), and an input
  // must stay well inside fuzz.sh's per-input time-out. The ghost's state carries over from
  // input to input, so longer sequences are still reached.
  for (int n = 0; n < kRequestsPerInput && !input.empty(); ++n) {
    const std::size_t end = input.find("\r\n\r\n");
    const std::size_t length = end == std::string_view::npos ? input.size() : end + 4;
    send(server, input.substr(0, length));
    input.remove_prefix(length);
  }
  return 0;
}
