#include "stores/sentence_journal.h"

namespace zelka {
namespace {
constexpr std::u16string_view kSentenceJournal = u"SentenceJournal";
}  // namespace

SentenceJournalStore::~SentenceJournalStore() { saveOnDestruction(); }

bool SentenceJournalStore::load(const std::u16string& path, const std::u16string& encoding) {
  return openStore(path, encoding,
                   [](XmlDocument& d) { d.appendDocumentElement(kSentenceJournal); });
}

XmlElement SentenceJournalStore::root() const {
  if (!hasDocument()) return XmlElement();
  return documentElement(kSentenceJournal);
}

}  // namespace zelka
