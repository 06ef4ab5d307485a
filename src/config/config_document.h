// The configuration file as an XML document that is only ever read. load() answers true only
// when the file parsed; a missing file gives no document to read, and a file that does not
// parse is left where and as it is (never renamed aside like a broken store). save() writes
// nothing and answers false, also when called through a reference to XmlDocument.
#pragma once

#include <optional>
#include <string>

#include "xml/xml_document.h"

namespace zelka {

class ConfigDocument : public XmlDocument {
 public:
  // Opens the file under BrokenFilePolicy::Fail; true only when the result is Loaded.
  bool load(const std::u16string& path, const std::u16string& encoding = u"Shift_JIS");

  // The author's file is never written: nothing happens and the answer is false.
  bool save(const std::optional<std::u16string>& path = std::nullopt) override;
};

}  // namespace zelka
