// Fuzz target: the argument text of the association and unification calls of the script
// language (associateCall, unifyCall in both orders) on a small learned knowledge set with
// categories, synonym groups and a cycle of categories. The input is read both as Shift_JIS
// text (as scripts hand it over) and as raw UTF-16 code units (unpaired surrogates included).
// The set is restored from its first saved state every few hundred inputs, because looking
// up a new word teaches it.
#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz_support.h"
#include "learning/learning_engine.h"
#include "platform/text_codec.h"

namespace {

constexpr char kConfig[] =
    "<?xml version='1.0' encoding='Shift_JIS'?>\n"
    "<ZelkaConfiguration><GhostProfile birthday=\"2001/05/03\" think_wait=\"5\"/>"
    "<RunEnvironment><Directory type=\"vender\" name=\"vender/\"/>"
    "<Directory type=\"learning\" name=\"_learning/\"/></RunEnvironment>"
    "</ZelkaConfiguration>\n";

constexpr char kDictionary[] =
    "[ZELKA DICTIONARY]\n"
    "apple pear \"big melon\"\n"
    "[fruit]\n"
    "apple ringo\n"
    "pear\n"
    "[food]\n"
    "fruit bread\n"
    "[bread]\n"
    "food\n"
    "[\x90\x6c\x96\xbc]\n"
    "\x91\xbe\x98\x59 \x89\xd4\x8e\x71\n";

class Fixture {
 public:
  Fixture() {
    zelka::fuzz::writeFile(scratch_.file("zelkaconf.xml"), kConfig);
    zelka::fuzz::writeFile(scratch_.file("vender/words.mem"), kDictionary);
    start();
    engine_.shutdown();
    std::filesystem::copy(scratch_.file("_learning"), scratch_.file("pristine"),
                          std::filesystem::copy_options::recursive);
    start();
  }

  zelka::LearningEngine& engine() {
    if (++runs_ % 256 == 0) {
      engine_.shutdown();
      std::error_code ignored;
      std::filesystem::remove_all(scratch_.file("_learning"), ignored);
      std::filesystem::copy(scratch_.file("pristine"), scratch_.file("_learning"),
                            std::filesystem::copy_options::recursive);
      start();
    }
    return engine_;
  }

 private:
  void start() {
    if (!engine_.start(zelka::toWide(scratch_.path()))) zelka::fuzz::fail("engine did not start");
  }

  zelka::fuzz::ScratchDir scratch_;
  zelka::LearningEngine engine_;
  std::size_t runs_ = 0;
};

Fixture& fixture() {
  static auto* f = new Fixture();
  return *f;
}

void callAll(zelka::LearningEngine& engine, const std::u16string& argument) {
  std::u16string word;
  engine.associateCall(argument, word);
  word.clear();
  engine.unifyCall(argument, word, false);
  word.clear();
  engine.unifyCall(argument, word, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zelka::LearningEngine& engine = fixture().engine();
  const std::string_view bytes = zelka::fuzz::asText(data, size);
  callAll(engine, zelka::toWide(bytes));

  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  callAll(engine, units);
  return 0;
}
