// Fuzz target: a script through ScriptEngine::runScript (parser, expansion with rescan,
// conditional chains, every meta element) on the fixture of script_fixture.h, at the run level
// that logs the most.
#include <cstdint>

#include "fuzz_support.h"
#include "script_fixture.h"

namespace {

zelka::fuzz::ScriptFixture& fixture() {
  static auto* f = new zelka::fuzz::ScriptFixture();   // lives to the end of the process
  return *f;
}

std::size_t runs = 0;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zelka::fuzz::ScriptFixture& f = fixture();
  // The log starts afresh now and then, so that the file stays small.
  if (runs++ % 1024 == 0) f.log().open(f.logPath());
  (void)f.runScript(zelka::fuzz::asText(data, size));
  return 0;
}
