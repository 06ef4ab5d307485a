#include "config/zelka_config.h"

#include <array>
#include <optional>

#include "config/config_document.h"
#include "platform/text_codec.h"
#include "util/number_text.h"
#include "xml/xml_node.h"

namespace zelka {

namespace {

struct Default {
  std::u16string_view key;
  std::u16string_view value;  // empty: no default
};

constexpr std::array<Default, 8> kProfileDefaults = {{
    {u"locale", u""},
    {u"ghost_id", u"zelka"},
    {u"ghost_name", u"Zelka"},
    {u"birthday", u"2001/05/03"},
    {u"emotion_border", u"50"},
    {u"talk_interval", u"120"},
    {u"listen_wait", u"16"},
    {u"think_wait", u"5"},
}};

// The directory keys read at start-up, in order; "master" has a default the reader knows
// but is not among them.
constexpr std::array<Default, 2> kDirectoryKeys = {{
    {u"vender", u""},
    {u"learning", u"_learning/"},
}};
constexpr std::u16string_view kDirectorySection = u"Directory";

constexpr std::array<Default, 9> kCategoryDefaults = {{
    {u"ms", u"人名"},
    {u"mz", u"無機物"},
    {u"ml", u"集合"},
    {u"mc", u"社名"},
    {u"mh", u"店名"},
    {u"mt", u"技"},
    {u"me", u"食物"},
    {u"mp", u"地名"},
    {u"m?", u"非限定"},
}};

// The attribute's value, or the fallback when the element or attribute is missing or empty.
std::u16string valueOr(const XmlNode& element, std::u16string_view attribute,
                       std::u16string_view fallback) {
  std::optional<std::u16string> value = element.attribute(attribute);
  if (!value || value->empty()) return std::u16string(fallback);
  return std::move(*value);
}

}  // namespace

ZelkaConfig::ZelkaConfig(const std::u16string& directory) { read(directory); }

bool ZelkaConfig::read(const std::u16string& directory) {
  directory_ = directory;
  profiles_.clear();
  runlevel_ = 0;
  directories_.clear();
  categories_.clear();
  separations_.clear();
  renames_.clear();
  if (directory.empty()) return false;

  // The author's file is only read: a file that does not parse is left where it is.
  ConfigDocument document;
  if (!document.load(directory + u"zelkaconf.xml")) return false;
  XmlNode root = document.documentElement(u"ZelkaConfiguration");

  XmlNode profile = root.findChild(u"GhostProfile");
  for (const auto& entry : kProfileDefaults) {
    profiles_.emplace_back(std::u16string(entry.key), valueOr(profile, entry.key, entry.value));
  }

  XmlNode environment = root.findChild(u"RunEnvironment");
  if (auto level = environment.attribute(u"runlevel")) {
    runlevel_ = parseInt32Prefix(toNarrow(*level));
  }
  for (const auto& entry : kDirectoryKeys) {
    XmlNode element = environment.findChildWithAttribute(kDirectorySection, u"type", entry.key);
    directories_.emplace_back(std::u16string(kDirectorySection), std::u16string(entry.key),
                              valueOr(element, u"name", entry.value));
  }

  XmlNode categories = root.findChild(u"DefaultCategory");
  for (const auto& entry : kCategoryDefaults) {
    XmlNode element = categories.findChildWithAttribute(u"Define", u"type", entry.key);
    categories_.emplace_back(std::u16string(entry.key),
                             valueOr(element, u"category", entry.value));
  }

  // Any element child counts, whatever its tag; one lacking an attribute is skipped.
  for (XmlNode child = root.findChild(u"ReferenceSeparation").firstChild(); child;
       child = child.nextSibling()) {
    auto event = child.attribute(u"event");
    auto reference = child.attribute(u"reference");
    auto expr = child.attribute(u"expr");
    if (event && reference && expr) {
      separations_.emplace_back(std::move(*event), std::move(*reference), std::move(*expr));
    }
  }
  for (XmlNode child = root.findChild(u"EventRename").firstChild(); child;
       child = child.nextSibling()) {
    auto name = child.attribute(u"name");
    auto rename = child.attribute(u"rename");
    if (name && rename) renames_.emplace_back(std::move(*name), std::move(*rename));
  }
  return true;
}

std::u16string ZelkaConfig::profile(std::u16string_view key) const {
  for (const auto& [k, value] : profiles_) {
    if (k == key) return value;
  }
  return {};
}

std::u16string ZelkaConfig::directory(std::u16string_view section, std::u16string_view key) const {
  for (const auto& [s, k, value] : directories_) {
    if (s == section && k == key) return value;
  }
  return {};
}

std::u16string ZelkaConfig::category(std::u16string_view code) const {
  for (const auto& [c, name] : categories_) {
    if (c == code) return name;
  }
  return {};
}

std::u16string ZelkaConfig::referenceSeparation(std::u16string_view event,
                                                unsigned reference) const {
  std::string digits = std::to_string(reference);
  std::u16string wanted(digits.begin(), digits.end());
  for (const auto& [e, r, expr] : separations_) {
    if (e == event && r == wanted) return expr;
  }
  return {};
}

std::u16string ZelkaConfig::eventRename(std::u16string_view name) const {
  for (const auto& [n, rename] : renames_) {
    if (n == name) return rename.empty() ? std::u16string(name) : rename;
  }
  return std::u16string(name);
}

}  // namespace zelka
