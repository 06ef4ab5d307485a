// The word index index.xml: "WordIndexes" holds one "Index" element per word, sorted by its
// "name" (UTF-16 code units), found by bisection. Each entry lists the neuron keys the word
// stands for as "Alias" children, newest first: the first alias is the word's current meaning.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml_document.h"

namespace zelka {

// A handle on one "Index" element (or on nothing).
class IndexEntry {
 public:
  IndexEntry() = default;
  explicit IndexEntry(XmlNode element) : element_(element) {}

  const XmlNode& element() const { return element_; }
  bool empty() const { return element_.empty(); }
  explicit operator bool() const { return !empty(); }

  // Creates the "Index" element for the word under root and makes this entry that element.
  // With a neighbour (the one findWord reported for this very word) it is placed directly
  // before it; without one it is placed by sorted insertion, which answers false and inserts
  // nothing when the word is already present. False when root is empty.
  bool create(const XmlNode& root, std::u16string_view word,
              const XmlNode& neighbour = XmlNode());

  // Puts the keys at the front in list order (the first key first); a key already present is
  // moved rather than duplicated. Answers the number of aliases written (the list's length).
  int addAliases(const std::vector<std::u16string>& keys);
  int addAlias(std::u16string_view key);
  // Removes the alias carrying that key; false when there is none.
  bool removeAlias(std::u16string_view key);

  // The name of the first alias; empty when there is none or it has no name.
  std::u16string firstAlias() const;
  // Every alias name, newest first; an alias without a name is skipped.
  std::vector<std::u16string> aliases() const;

 private:
  XmlNode element_;
};

class WordIndexStore : public XmlDocument {
 public:
  struct Lookup {
    IndexEntry entry;      // the word's entry, or empty
    XmlNode neighbour;  // without an entry: the entry the word belongs before, or empty
                        // for the end of the list
  };

  ~WordIndexStore() override;   // saves to the loaded file

  // Opens the file; a missing one is created holding only an empty "WordIndexes".
  bool load(const std::u16string& path, const std::u16string& encoding = u"Shift_JIS");
  XmlNode root() const;      // the "WordIndexes" element, or empty
  Lookup findWord(std::u16string_view word) const;
};

}  // namespace zelka
