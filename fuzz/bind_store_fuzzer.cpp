// Fuzz target: the bind network file bind.xml, loaded by the knowledge set, walked by the
// segmentation pass, taught words and reinforced, saved and read back.
#include <cstdint>
#include <deque>
#include <string>

#include "learning/concept_learning.h"
#include "store_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zelka::fuzz::storeFixture().run("bind.xml", zelka::fuzz::asText(data, size),
                                  [](zelka::KnowledgeSet& set) {
    zelka::BindNetworkStore& bind = set.bindNetwork();
    zelka::BindNode root = bind.root();
    (void)root.total();
    // Every child of the root and of its first children.
    int visited = 0;
    for (zelka::XmlNode child = root.element().firstChild(); child && visited < 64;
         child = child.nextSibling(), ++visited) {
      zelka::BindNode node(child);
      (void)node.name();
      (void)node.distance();
      (void)node.total();
      for (zelka::XmlNode grand = child.firstChild(); grand && visited < 64;
           grand = grand.nextSibling(), ++visited) {
        (void)zelka::BindNode(grand).distance();
      }
    }
    for (int mode : {0, 1, 2}) {
      for (const char16_t* name : {u"a", u"b", u"\u3042", u""}) (void)root.findChild(name, mode);
    }

    std::deque<std::u16string> segments;
    set.thinking().thinkNow(u"friend", u"local", u"abcab\u3042\u3044abc", segments);
    segments.clear();
    set.thinking().thinkNow(std::u16string(zelka::kKernelSender), u"local",
                            u"ab", segments);

    zelka::ConceptLearning learning(set);
    learning.learnWord(u"abc");
    learning.learnWord(u"ab\u3042");
    zelka::BindNode a = root.findChild(u"a", 0);
    if (a) a.reinforce();
    zelka::BindNode added;
    added.addChild(root, u"z");
  });
  return 0;
}
