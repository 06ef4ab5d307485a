// The sentence journal journal.xml: a store holding its "SentenceJournal" element only. It is
// created when absent, loaded and saved with the other stores; elements another tool wrote
// under it are kept as they are.
#pragma once

#include <string>

#include "xml/xml_document.h"

namespace zelka {

class SentenceJournalStore : public XmlDocument {
 public:
  ~SentenceJournalStore() override;   // saves to the loaded file

  // Opens the file; a missing one is created holding only "SentenceJournal".
  bool load(const std::u16string& path, const std::u16string& encoding = u"Shift_JIS");
  XmlNode root() const;            // the "SentenceJournal" element, or empty
};

}  // namespace zelka
