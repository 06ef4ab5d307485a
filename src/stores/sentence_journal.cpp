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

XmlNode SentenceJournalStore::root() const {
  if (!hasDocument()) return XmlNode();
  return documentElement(kSentenceJournal);
}

}  // namespace zelka
