#include "config/config_document.h"

namespace zelka {

bool ConfigDocument::load(const std::u16string& path, const std::u16string& encoding) {
  return open(path, encoding, BrokenFilePolicy::Fail) == XmlOpenResult::Loaded;
}

bool ConfigDocument::save(const std::optional<std::u16string>&) { return false; }

}  // namespace zelka
