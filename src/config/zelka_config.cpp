#include "config/zelka_config.h"

#include <array>
#include <optional>

#include "config/config_document.h"
#include "config/config_layout.h"
#include "platform/text_codec.h"
#include "util/number_text.h"
#include "xml/xml_node.h"

namespace zelka {

namespace {

// The attribute's value, or the fallback when the element or attribute is missing or empty.
std::u16string valueOr(const XmlNode& element, std::u16string_view attribute,
                       std::u16string_view fallback) {
  std::optional<std::u16string> value = element.attribute(attribute);
  if (!value || value->empty()) return std::u16string(fallback);
  return std::move(*value);
}

}  // namespace

std::vector<ConfigElementRule> configLayout() {
  std::vector<ConfigElementRule> rules;
  rules.push_back({kConfigRoot, u"", {}, u"", {}, true});
  ConfigElementRule profile{kConfigProfile, kConfigRoot, {}, u"", {}, true};
  for (const auto& entry : kProfileDefaults) profile.attributes.push_back(entry.key);
  rules.push_back(std::move(profile));
  rules.push_back({kConfigEnvironment, kConfigRoot, {kConfigRunLevel}, u"", {}, true});
  ConfigElementRule directory{kConfigDirectory, kConfigEnvironment, {kConfigType, kConfigName}, kConfigType,
                              {}, true};
  for (const auto& entry : kDirectoryKeys) directory.keyValues.push_back(entry.key);
  directory.keyValues.push_back(kMasterDirectoryKey);
  rules.push_back(std::move(directory));
  rules.push_back({kConfigCategories, kConfigRoot, {}, u"", {}, true});
  ConfigElementRule define{kConfigDefine, kConfigCategories, {kConfigType, kConfigCategory}, kConfigType, {},
                           true};
  for (const auto& entry : kCategoryDefaults) define.keyValues.push_back(entry.key);
  rules.push_back(std::move(define));
  rules.push_back({kConfigSeparations, kConfigRoot, {}, u"", {}, true});
  rules.push_back({u"", kConfigSeparations, {kConfigEvent, kConfigReference, kConfigExpr}, u"", {}, false});
  rules.push_back({kConfigRenames, kConfigRoot, {}, u"", {}, true});
  rules.push_back({u"", kConfigRenames, {kConfigName, kConfigRename}, u"", {}, false});
  rules.push_back({kConfigProtocol, kConfigRoot, {kConfigVersion}, u"", {}, true});
  return rules;
}

ZelkaConfig::ZelkaConfig(const std::u16string& directory) { read(directory); }

bool ZelkaConfig::read(const std::u16string& directory) {
  directory_ = directory;
  profiles_.clear();
  runlevel_ = 0;
  directories_.clear();
  categories_.clear();
  separations_.clear();
  renames_.clear();
  protocolVersion_.clear();
  if (directory.empty()) return false;

  // The author's file is only read: a file that does not parse is left where it is.
  ConfigDocument document;
  if (!document.load(directory + std::u16string(kConfigFileName))) return false;
  XmlNode root = document.documentElement(kConfigRoot);

  XmlNode profile = root.findChild(kConfigProfile);
  for (const auto& entry : kProfileDefaults) {
    profiles_.emplace_back(std::u16string(entry.key), valueOr(profile, entry.key, entry.value));
  }

  XmlNode environment = root.findChild(kConfigEnvironment);
  if (auto level = environment.attribute(kConfigRunLevel)) {
    runlevel_ = parseInt32Prefix(toNarrow(*level));
  }
  for (const auto& entry : kDirectoryKeys) {
    XmlNode element = environment.findChildWithAttribute(kConfigDirectory, kConfigType, entry.key);
    directories_.emplace_back(std::u16string(kConfigDirectory), std::u16string(entry.key),
                              valueOr(element, kConfigName, entry.value));
  }

  XmlNode categories = root.findChild(kConfigCategories);
  for (const auto& entry : kCategoryDefaults) {
    XmlNode element = categories.findChildWithAttribute(kConfigDefine, kConfigType, entry.key);
    categories_.emplace_back(std::u16string(entry.key),
                             valueOr(element, kConfigCategory, entry.value));
  }

  // Any element child counts, whatever its tag; one lacking an attribute is skipped.
  for (XmlNode child = root.findChild(kConfigSeparations).firstChild(); child;
       child = child.nextSibling()) {
    auto event = child.attribute(kConfigEvent);
    auto reference = child.attribute(kConfigReference);
    auto expr = child.attribute(kConfigExpr);
    if (event && reference && expr) {
      separations_.emplace_back(std::move(*event), std::move(*reference), std::move(*expr));
    }
  }
  for (XmlNode child = root.findChild(kConfigRenames).firstChild(); child;
       child = child.nextSibling()) {
    auto name = child.attribute(kConfigName);
    auto rename = child.attribute(kConfigRename);
    if (name && rename) renames_.emplace_back(std::move(*name), std::move(*rename));
  }
  if (auto version = root.findChild(kConfigProtocol).attribute(kConfigVersion)) {
    protocolVersion_ = std::move(*version);
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
