#include "knowledge/sentence_journal.h"

namespace zelka {
namespace {
constexpr std::u16string_view kSentenceJournal = u"SentenceJournal";
}  // namespace

SentenceJournalStore::~SentenceJournalStore() {
  try {
    save();
  } catch (...) {
    // Destruction never fails; the knowledge set's explicit save reports errors.
  }
}

bool SentenceJournalStore::load(const std::u16string& path, const std::u16string& encoding) {
  switch (open(path, encoding)) {
    case XmlOpenResult::Failed: return false;
    case XmlOpenResult::Loaded: return true;
    case XmlOpenResult::Created: break;
  }
  appendDocumentElement(kSentenceJournal);
  save(path);
  return open(path, encoding) == XmlOpenResult::Loaded;
}

XmlElement SentenceJournalStore::root() const {
  if (!hasDocument()) return XmlElement();
  return documentElement(kSentenceJournal);
}

}  // namespace zelka
