// Fuzz target: the configuration file zelkaconf.xml read by ZelkaConfig, then asked every
// lookup the module makes.
#include <cstdint>
#include <string>

#include "config/zelka_config.h"
#include "fuzz_support.h"
#include "platform/text_codec.h"

namespace {

zelka::fuzz::ScratchDir& scratch() {
  static auto* dir = new zelka::fuzz::ScratchDir();
  return *dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zelka::fuzz::writeFile(scratch().file("zelkaconf.xml"), zelka::fuzz::asText(data, size));

  zelka::ZelkaConfig config;
  const bool read = config.read(zelka::toWide(scratch().path()));
  for (const char16_t* key : {u"locale", u"ghost_id", u"ghost_name", u"birthday",
                              u"emotion_border", u"talk_interval", u"listen_wait",
                              u"think_wait", u"unknown"}) {
    const std::u16string value = config.profile(key);
    if (!read && !value.empty()) zelka::fuzz::fail("an unread configuration has values");
    (void)zelka::toNarrow(value);
  }
  (void)config.runlevel();
  for (const char16_t* type : {u"vender", u"learning", u"other"}) {
    (void)config.directory(u"Directory", type);
  }
  for (const char16_t* code : {u"ms", u"mz", u"ml", u"mc", u"mh", u"mt", u"me", u"mp", u"m?",
                               u"dms", u""}) {
    (void)config.category(code);
  }
  for (const char16_t* event : {u"OnMouseClick", u"OnSecondChange", u"OnBoot", u""}) {
    for (unsigned reference = 0; reference < 9; ++reference) {
      (void)config.referenceSeparation(event, reference);
    }
    (void)config.eventRename(event);
  }
  return 0;
}
