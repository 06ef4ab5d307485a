// Fuzz target: the sentence journal file journal.xml, loaded by the knowledge set (what other
// tools wrote under it is kept), saved and read back.
#include <cstdint>

#include "store_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zelka::fuzz::storeFixture().run("journal.xml", zelka::fuzz::asText(data, size),
                                  [](zelka::KnowledgeSet& set) {
    zelka::XmlNode root = set.sentenceJournal().root();
    int visited = 0;
    for (zelka::XmlNode child = root.firstChild(); child && visited < 64;
         child = child.nextSibling(), ++visited) {
      (void)child.tagName();
      (void)child.attribute(u"who");
    }
    (void)set.sentenceJournal().serialize();
  });
  return 0;
}
