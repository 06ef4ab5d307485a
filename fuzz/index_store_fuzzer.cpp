// Fuzz target: the word index file index.xml, loaded by the knowledge set, searched, extended
// through concept learning and association, saved and read back.
#include <cstdint>
#include <string>

#include "learning/concept_learning.h"
#include "store_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zelka::fuzz::storeFixture().run("index.xml", zelka::fuzz::asText(data, size),
                                  [](zelka::KnowledgeSet& set) {
    zelka::WordIndexStore& index = set.wordIndex();
    int visited = 0;
    for (zelka::XmlNode child = index.root().firstChild(); child && visited < 64;
         child = child.nextSibling(), ++visited) {
      zelka::IndexEntry entry(child);
      (void)entry.firstAlias();
      (void)entry.aliases();
      if (auto name = child.attribute(u"name")) {
        (void)index.findWord(*name);
      }
    }
    for (const char16_t* word : {u"a", u"b", u"c", u"word", u"\u3042", u""}) {
      zelka::WordIndexStore::Lookup lookup = index.findWord(word);
      (void)lookup.entry.aliases();
    }

    zelka::ConceptLearning learning(set);
    (void)learning.neuronFor(u"a");
    (void)learning.neuronFor(u"new word");
    learning.learnCategory(u"cat", {{u"a", u"b"}, {u"c"}, {u"cat"}});
    std::u16string word;
    std::uint64_t depth = 0;
    learning.associate(3, depth, u"(\"cat\")", word);
    depth = 0;
    learning.unify(3, depth, u"(\"cat\")-(\"c\")", u"a", word);

    zelka::IndexEntry fresh;
    if (fresh.create(index.root(), u"zz")) {
      fresh.addAliases({u"NEUR0000000000000001", u"NEUR0000000000000002"});
      fresh.removeAlias(u"NEUR0000000000000001");
    }
  });
  return 0;
}
