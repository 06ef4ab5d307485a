// The layout of zelkaconf.xml as the reader reads it: the element names, the profile keys with
// their defaults, the directory keys and the category codes. Declared once, here: the reader
// (zelka_config.cpp) reads by these names, and author tools (zelka-host check) compare a file
// against configLayout() to find names the reader would pass over.
#pragma once

#include <array>
#include <string_view>
#include <vector>

namespace zelka {

inline constexpr std::u16string_view kConfigFileName = u"zelkaconf.xml";

inline constexpr std::u16string_view kConfigRoot = u"ZelkaConfiguration";
inline constexpr std::u16string_view kConfigProfile = u"GhostProfile";
inline constexpr std::u16string_view kConfigEnvironment = u"RunEnvironment";
inline constexpr std::u16string_view kConfigRunLevel = u"runlevel";
inline constexpr std::u16string_view kConfigDirectory = u"Directory";
inline constexpr std::u16string_view kConfigCategories = u"DefaultCategory";
inline constexpr std::u16string_view kConfigDefine = u"Define";
inline constexpr std::u16string_view kConfigSeparations = u"ReferenceSeparation";
inline constexpr std::u16string_view kConfigRenames = u"EventRename";
// <Protocol version="3.0"/>: hosts that ask for the version are told to speak SHIORI/3.0.
inline constexpr std::u16string_view kConfigProtocol = u"Protocol";
inline constexpr std::u16string_view kConfigVersion = u"version";
// The versions a load knows: "3.0", and "2.x" (what hosts are told without the element).
inline constexpr std::u16string_view kProtocolVersion3 = u"3.0";
inline constexpr std::u16string_view kProtocolVersion2 = u"2.x";
// Attributes of Directory and Define, and of the children of the two lists.
inline constexpr std::u16string_view kConfigType = u"type";
inline constexpr std::u16string_view kConfigName = u"name";
inline constexpr std::u16string_view kConfigCategory = u"category";
inline constexpr std::u16string_view kConfigEvent = u"event";
inline constexpr std::u16string_view kConfigReference = u"reference";
inline constexpr std::u16string_view kConfigExpr = u"expr";
inline constexpr std::u16string_view kConfigRename = u"rename";

struct ConfigDefault {
  std::u16string_view key;
  std::u16string_view value;  // empty: no default
};

// The GhostProfile attributes in the order they are read.
inline constexpr std::array<ConfigDefault, 9> kProfileDefaults = {{
    {u"locale", u""},
    {u"ghost_id", u"zelka"},
    {u"ghost_name", u"Zelka"},
    {u"birthday", u"2001/05/03"},
    {u"emotion_border", u"50"},
    {u"talk_interval", u"120"},
    {u"listen_wait", u"16"},
    {u"think_wait", u"5"},
    {u"autosave_interval", u"600"},  // seconds of session time between periodic saves
}};

// The directory keys read at start-up, in order; "master" has a default the reader knows
// but is not among them.
inline constexpr std::array<ConfigDefault, 2> kDirectoryKeys = {{
    {u"vender", u""},
    {u"learning", u"_learning/"},
}};
inline constexpr std::u16string_view kMasterDirectoryKey = u"master";

inline constexpr std::array<ConfigDefault, 9> kCategoryDefaults = {{
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

// One element the reader looks at.
struct ConfigElementRule {
  std::u16string_view tag;                       // empty: any tag
  std::u16string_view parent;                    // empty: the document itself
  std::vector<std::u16string_view> attributes;   // the attributes read from it
  std::u16string_view keyAttribute;              // the attribute that selects it, if any
  std::vector<std::u16string_view> keyValues;    // the values of that attribute that are read
  bool firstOnly = false;                        // only the first such element is read
};

std::vector<ConfigElementRule> configLayout();

}  // namespace zelka
