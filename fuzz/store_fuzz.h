// Shared body of the store fuzz targets: the input becomes one store file of a learning
// directory, the knowledge set loads it (a file that does not parse is kept aside and a fresh
// store begins), the caller works on the set, and the set saves itself when it goes. The four
// files it leaves must then open as well-formed documents again: a save never leaves a file
// the module cannot read back.
#pragma once

#include <functional>
#include <string>

#include "config/zelka_config.h"
#include "fuzz_support.h"
#include "learning/knowledge_set.h"
#include "platform/text_codec.h"
#include "xml/xml_document.h"

namespace zelka::fuzz {

class StoreFixture {
 public:
  StoreFixture() {
    writeFile(scratch_.file("zelkaconf.xml"),
              "<?xml version='1.0' encoding='Shift_JIS'?>\n"
              "<ZelkaConfiguration><GhostProfile think_wait=\"5\"/>"
              "<RunEnvironment><Directory type=\"learning\" name=\"learn/\"/></RunEnvironment>"
              "</ZelkaConfiguration>\n");
    if (!config_.read(toWide(scratch_.path()))) fail("fixture configuration did not read");
  }

  // Writes the input as learn/<fileName> (nothing when the name is empty), loads the set,
  // runs work on it and checks what is left on disk.
  void run(const std::string& fileName, std::string_view bytes,
           const std::function<void(KnowledgeSet&)>& work) {
    const std::string learn = scratch_.file("learn/");
    std::error_code ignored;
    std::filesystem::remove_all(learn, ignored);
    if (!fileName.empty()) writeFile(learn + fileName, bytes);
    {
      KnowledgeSet set;
      set.load(toWide(scratch_.path()), &config_);
      try {
        work(set);
      } catch (const XmlError&) {
        // DOM failures are the stores' documented answer; their callers catch them.
      }
    }
    for (const char* store : {"bind.xml", "index.xml", "journal.xml", "neuron.xml"}) {
      XmlDocument saved;
      if (saved.open(toWide(learn + store), u"Shift_JIS", BrokenFilePolicy::Fail) !=
          XmlOpenResult::Loaded) {
        fail("a store left a file that does not open");
      }
    }
  }

 private:
  ScratchDir scratch_;
  ZelkaConfig config_;
};

inline StoreFixture& storeFixture() {
  static auto* fixture = new StoreFixture();
  return *fixture;
}

}  // namespace zelka::fuzz
