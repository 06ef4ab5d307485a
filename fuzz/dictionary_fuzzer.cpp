// Fuzz target: a dictionary file ("*.mem"), read by readDictionary into a recorder and
// imported by importDictionary into a fresh knowledge set (concept learning, word index,
// neuron network, bind network), which is saved and must read back.
#include <cstdint>
#include <string>
#include <vector>

#include "learning/dictionary_import.h"
#include "store_fuzz.h"

namespace {

class Recorder : public zelka::DictionaryLearner {
 public:
  void neuronFor(std::u16string_view word) override { words += word.size(); }
  void learnCategory(std::u16string_view category,
                     const std::vector<std::u16string>& group) override {
    words += category.size() + group.size();
  }
  void learnWord(std::u16string_view word) override { words += word.size(); }
  std::size_t words = 0;
};

zelka::fuzz::ScratchDir& scratch() {
  static auto* dir = new zelka::fuzz::ScratchDir();
  return *dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = zelka::fuzz::asText(data, size);
  const std::string path = scratch().file("words.mem");
  zelka::fuzz::writeFile(path, bytes);
  Recorder recorder;
  zelka::readDictionary(path, zelka::kDictionaryHeader, recorder);

  // The real import: the file is moved into learned/ afterwards.
  zelka::fuzz::storeFixture().run("", "", [&](zelka::KnowledgeSet& set) {
    const std::string vendor = scratch().file("vender/");
    const std::string file = vendor + "words.mem";
    zelka::fuzz::writeFile(file, bytes);
    zelka::DictionaryImportReport report;
    zelka::importDictionary(vendor + "learned/", file, zelka::kDictionaryHeader, &set, &report);
    std::error_code ignored;
    std::filesystem::remove_all(vendor, ignored);
  });
  return 0;
}
