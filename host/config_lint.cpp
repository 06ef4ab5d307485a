#include "config_lint.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <regex>
#include <set>
#include <vector>

#include "config/config_document.h"
#include "config/config_layout.h"
#include "name_suggestion.h"
#include "platform/file_system.h"
#include "platform/path_text.h"
#include "platform/text_codec.h"
#include "terminal_text.h"
#include "util/text_encoding.h"
#include "xml/xml_document.h"

namespace zelka::host {

namespace {

const std::string kFile = utf16ToUtf8(kConfigFileName);

std::string utf8(std::u16string_view wide) { return utf16ToUtf8(wide); }

std::string padded(const std::string& text, std::size_t width) {
  const std::size_t used = displayWidth(text);
  return used >= width ? text + " " : text + std::string(width - used, ' ');
}

std::size_t lineOf(std::string_view text, std::size_t offset) {
  return 1 + static_cast<std::size_t>(
                 std::count(text.begin(), text.begin() + std::min(offset, text.size()), '\n'));
}

// The encoding the declaration names, lower-cased; empty when it names none.
std::string declaredEncoding(std::string_view bytes) {
  static const std::regex declaration(R"(^(?:\xEF\xBB\xBF)?<\?xml[^>]*?encoding\s*=\s*["']([^"']*)["'])");
  std::match_results<std::string_view::const_iterator> match;
  const std::string_view head = bytes.substr(0, 200);
  if (!std::regex_search(head.begin(), head.end(), match, declaration)) return "";
  std::string name = match[1].str();
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

bool isShiftJisName(const std::string& name) {
  static const std::set<std::string> names = {"shift_jis", "shift-jis", "sjis", "x-sjis",
                                              "ms_kanji", "csshiftjis", "windows-31j", "cp932",
                                              "ms932"};
  return names.count(name) > 0;
}

// The start tags of the document in order, which is the order of a walk over its elements
// (comments, processing instructions, CDATA sections and the doctype skipped). Only used on
// a file the XML layer has accepted, to tell on which line each element stands.
std::vector<std::size_t> startTags(std::string_view text) {
  std::vector<std::size_t> tags;
  std::size_t i = 0;
  auto skipTo = [&](std::string_view end) {
    const std::size_t at = text.find(end, i);
    i = at == std::string_view::npos ? text.size() : at + end.size();
  };
  while ((i = text.find('<', i)) != std::string_view::npos) {
    const std::string_view rest = text.substr(i);
    if (rest.starts_with("<!--")) {
      skipTo("-->");
    } else if (rest.starts_with("<![CDATA[")) {
      skipTo("]]>");
    } else if (rest.starts_with("<?")) {
      skipTo("?>");
    } else if (rest.starts_with("<!")) {
      skipTo(">");
    } else if (rest.starts_with("</")) {
      ++i;
    } else {
      tags.push_back(i);
      ++i;
    }
  }
  return tags;
}

class ConfigLint {
 public:
  ConfigLint(const std::string& dir, ZelkaConfig& config, Findings& findings, std::ostream& out)
      : dir_(dir), config_(config), findings_(findings), out_(out) {}

  bool run() {
    const std::string path = dir_ + toNarrow(kConfigFileName);
    out_ << "\nConfiguration " << path << "\n";
    if (!fileExists(path) && !isDirectory(path)) {
      findings_.error(kFile, 0, "the file is missing: a load fails without its configuration");
      return false;
    }
    std::optional<std::string> bytes = isDirectory(path) ? std::nullopt : readFile(path);
    if (!bytes) {
      findings_.error(kFile, 0, "cannot read the file: a load fails without its configuration");
      return false;
    }
    text_ = std::move(*bytes);
    const bool encodingReported = checkEncoding();

    ConfigDocument document;
    if (!document.load(pathToWide(path).value_or(std::u16string()))) {
      std::string reason = document.openProblem().reason;
      std::size_t line = 0, column = 0;
      static const std::regex position(R"(^line (\d+), column (\d+): (.*)$)");
      std::smatch match;
      if (std::regex_match(reason, match, position)) {
        line = std::stoul(match[1].str());
        column = std::stoul(match[2].str());
        reason = match[3].str();
      }
      if (!encodingReported || line == 0) {
        findings_.error(kFile, line,
                        "not well-formed XML (" + reason + "): a load fails without its "
                        "configuration",
                        column);
      }
      return false;
    }
    if (!config_.read(pathToWide(dir_).value_or(std::u16string()))) {
      findings_.error(kFile, 0, "the configuration cannot be read: a load fails");
      return false;
    }
    tags_ = startTags(text_);
    numberElements(document.documentElement(u""));
    const XmlNode root = document.documentElement(kConfigRoot);
    if (!root) {
      const XmlNode other = document.documentElement(u"");
      findings_.error(kFile, lineOfElement(other),
                      "the root element is <" + utf8(other.tagName()) + ">, not <" +
                          utf8(kConfigRoot) + ">: a load reads every value as its default");
    } else {
      checkElement(root, u"", layout_);
      checkProtocol(root);
    }
    report(root);
    return true;
  }

 private:
  // Text saved in another encoding than the one declared. True when it reported one.
  bool checkEncoding() {
    const std::string declared = declaredEncoding(text_);
    const TextEncoding found = detectTextEncoding(text_);
    const bool shiftJis = isShiftJisName(declared);
    if (shiftJis && found == TextEncoding::kUtf8) {
      findings_.error(kFile, firstNonAsciiLine(),
                      "the file is saved as UTF-8 but declares encoding='" + declared +
                          "': a load reads its Japanese text as other characters (ghost_name "
                          "ハリ becomes 繝上リ); save it as Shift_JIS, or declare "
                          "encoding='UTF-8'");
      return true;
    }
    if (shiftJis && found == TextEncoding::kUnknown) {
      const std::size_t bad = firstNonShiftJisByte(text_);
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned>(
                                                   static_cast<unsigned char>(text_[bad])));
      findings_.error(kFile, lineOf(text_, bad),
                      std::string("byte ") + hex + " is not Shift_JIS: save the file as "
                      "Shift_JIS");
      return true;
    }
    if (!shiftJis && (declared.empty() || declared == "utf-8" || declared == "utf8") &&
        (found == TextEncoding::kShiftJis || found == TextEncoding::kUnknown)) {
      findings_.error(kFile, firstNonAsciiLine(),
                      "the file is not UTF-8 but declares " +
                          (declared.empty() ? std::string("no encoding (which means UTF-8)")
                                            : "encoding='" + declared + "'") +
                          ": declare encoding='Shift_JIS' in its first line");
      return true;
    }
    return false;
  }

  std::size_t firstNonAsciiLine() const {
    const auto at = std::find_if(text_.begin(), text_.end(),
                                 [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    return lineOf(text_, static_cast<std::size_t>(at - text_.begin()));
  }

  // Every element in document order, which is the order of the start tags.
  void numberElements(const XmlNode& top) {
    std::vector<XmlNode> stack{top};
    while (!stack.empty()) {
      XmlNode node = stack.back();
      stack.pop_back();
      order_.push_back(node);
      std::vector<XmlNode> children;
      for (XmlNode c = node.firstChild(); c; c = c.nextSibling()) children.push_back(c);
      for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(*it);
    }
  }

  std::size_t tagOffset(const XmlNode& element) const {
    const auto found = std::find(order_.begin(), order_.end(), element);
    const std::size_t index = static_cast<std::size_t>(found - order_.begin());
    return index < tags_.size() ? tags_[index] : std::string::npos;
  }

  std::size_t lineOfElement(const XmlNode& element) const {
    const std::size_t offset = tagOffset(element);
    return offset == std::string::npos ? 0 : lineOf(text_, offset);
  }

  // The line of the attribute within the element's start tag.
  std::size_t lineOfAttribute(const XmlNode& element, std::u16string_view name) const {
    const std::size_t start = tagOffset(element);
    if (start == std::string::npos) return 0;
    const std::size_t end = std::min(text_.find('>', start), text_.size());
    const std::string wanted = toNarrow(name);
    for (std::size_t at = text_.find(wanted, start); at < end; at = text_.find(wanted, at + 1)) {
      const char before = text_[at - 1];
      std::size_t after = at + wanted.size();
      while (after < end && std::isspace(static_cast<unsigned char>(text_[after]))) ++after;
      if (std::isspace(static_cast<unsigned char>(before)) && after < end && text_[after] == '=') {
        return lineOf(text_, at);
      }
    }
    return lineOf(text_, start);
  }

  const ConfigElementRule* ruleFor(std::u16string_view tag, std::u16string_view parent) const {
    for (const ConfigElementRule& rule : layout_) {
      if (rule.parent == parent && (rule.tag == tag || rule.tag.empty())) return &rule;
    }
    return nullptr;
  }

  void checkElement(const XmlNode& element, std::u16string_view parentTag,
                    const std::vector<ConfigElementRule>& layout) {
    const std::u16string tag = element.tagName();
    const ConfigElementRule* rule = ruleFor(tag, parentTag);
    if (rule == nullptr) return;
    // Attributes.
    for (const std::u16string& name : element.attributeNames()) {
      if (std::find(rule->attributes.begin(), rule->attributes.end(), name) !=
          rule->attributes.end()) {
        continue;
      }
      std::vector<std::string> known;
      for (std::u16string_view a : rule->attributes) known.push_back(utf8(a));
      findings_.error(kFile, lineOfAttribute(element, name),
                      "<" + utf8(tag) + "> has no attribute " + utf8(name) +
                          ": a load passes over it" + didYouMean(utf8(name), known) +
                          (known.empty() ? "" : " (it reads " + joined(known) + ")"));
    }
    if (!rule->keyAttribute.empty()) {
      const std::optional<std::u16string> key = element.attribute(rule->keyAttribute);
      std::vector<std::string> known;
      for (std::u16string_view v : rule->keyValues) known.push_back(utf8(v));
      if (key && std::find(rule->keyValues.begin(), rule->keyValues.end(), *key) ==
                     rule->keyValues.end()) {
        findings_.error(kFile, lineOfAttribute(element, rule->keyAttribute),
                        "<" + utf8(tag) + " " + utf8(rule->keyAttribute) + "=\"" + utf8(*key) +
                            "\"> is never read: a load asks only for " + joined(known) +
                            didYouMean(utf8(*key), known));
      }
    }
    if (rule->tag.empty()) checkListChild(element, rule);
    // Children: known ones checked, unknown ones reported; the first of a single element wins.
    std::set<std::u16string> seen;
    for (XmlNode child = element.firstChild(); child; child = child.nextSibling()) {
      const std::u16string childTag = child.tagName();
      const ConfigElementRule* childRule = ruleFor(childTag, tag);
      if (childRule == nullptr) {
        std::vector<std::string> known;
        for (const ConfigElementRule& r : layout) {
          if (r.parent == tag && !r.tag.empty()) known.push_back(utf8(r.tag));
        }
        findings_.error(kFile, lineOfElement(child),
                        "<" + utf8(childTag) + "> is not read inside <" + utf8(tag) +
                            ">: a load passes over it" + didYouMean(utf8(childTag), known));
        continue;
      }
      std::u16string identity = childTag;
      if (!childRule->keyAttribute.empty()) {
        identity += u"/" + child.attribute(childRule->keyAttribute).value_or(u"");
      }
      if (childRule->firstOnly && !childRule->tag.empty() && !seen.insert(identity).second) {
        findings_.warning(kFile, lineOfElement(child),
                          "a second <" + utf8(childTag) +
                              (childRule->keyAttribute.empty()
                                   ? ""
                                   : " " + utf8(childRule->keyAttribute) + "=\"" +
                                         utf8(child.attribute(childRule->keyAttribute)
                                                  .value_or(u"")) + "\"") +
                              ">: a load reads only the first one");
        continue;
      }
      checkElement(child, tag, layout);
    }
  }

  // The Protocol version a load does not know: hosts are then told SHIORI/2.x.
  void checkProtocol(const XmlNode& root) {
    const XmlNode protocol = root.findChild(kConfigProtocol);
    const std::optional<std::u16string> version = protocol.attribute(kConfigVersion);
    if (!version || version->empty() || *version == kProtocolVersion3 ||
        *version == kProtocolVersion2) {
      return;
    }
    findings_.warning(kFile, lineOfAttribute(protocol, kConfigVersion),
                      "<" + utf8(kConfigProtocol) + " " + utf8(kConfigVersion) + "=\"" +
                          utf8(*version) + "\"> is not " + utf8(kProtocolVersion3) + " or " +
                          utf8(kProtocolVersion2) + ": hosts are told SHIORI/2.x");
  }

  // A child of ReferenceSeparation or EventRename: every attribute must be there.
  void checkListChild(const XmlNode& element, const ConfigElementRule* rule) {
    std::string missing;
    for (std::u16string_view attribute : rule->attributes) {
      if (!element.attribute(attribute)) {
        missing += (missing.empty() ? "" : ", ") + utf8(attribute);
      }
    }
    if (!missing.empty()) {
      findings_.error(kFile, lineOfElement(element),
                      "<" + utf8(element.tagName()) + "> lacks " + missing +
                          ": a load skips it");
    }
    if (std::optional<std::u16string> reference = element.attribute(kConfigReference)) {
      const bool digits = !reference->empty() &&
                          std::all_of(reference->begin(), reference->end(),
                                      [](char16_t c) { return c >= u'0' && c <= u'9'; });
      if (!digits || (reference->size() > 1 && (*reference)[0] == u'0')) {
        findings_.error(kFile, lineOfAttribute(element, kConfigReference),
                        "reference=\"" + utf8(*reference) +
                            "\" never matches: write the reference number (0 to 7) without "
                            "leading zeros or blanks");
      }
    }
  }

  static std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) text += (i ? ", " : "") + names[i];
    return text;
  }

  // The values as a load reads them, defaults marked.
  void report(const XmlNode& root) {
    const XmlNode profile = root.findChild(kConfigProfile);
    const XmlNode environment = root.findChild(kConfigEnvironment);
    const XmlNode categories = root.findChild(kConfigCategories);
    auto given = [](const XmlNode& element, std::u16string_view attribute) {
      std::optional<std::u16string> value = element.attribute(attribute);
      return value && !value->empty();
    };
    auto row = [&](const std::string& key, const std::string& value, bool fromFile,
                   const std::string& extra = {}) {
      out_ << "  " << padded(key, 20) << padded(value.empty() ? "(empty)" : value, 12)
           << (fromFile ? "" : "(default)") << extra << "\n";
    };
    for (const ConfigDefault& entry : kProfileDefaults) {
      const std::u16string value = config_.profile(entry.key);
      std::string extra;
      if (entry.key == u"locale" && value.empty()) extra = ": the system's default locale";
      row(utf8(entry.key), utf8(value),
          given(profile, entry.key) || (entry.key == u"locale" && value.empty()), extra);
    }
    row("runlevel", std::to_string(config_.runlevel()), given(environment, kConfigRunLevel),
        config_.runlevel() == 0 ? ": no diagnostic log" : ": zelka.log in the current directory");
    for (const ConfigDefault& entry : kDirectoryKeys) {
      const std::u16string value = config_.directory(kConfigDirectory, entry.key);
      const XmlNode element = environment.findChildWithAttribute(kConfigDirectory, kConfigType,
                                                                 entry.key);
      const std::string full = dir_ + pathFromWide(value).value_or(std::string());
      const bool exists = isDirectory(full);
      row(utf8(entry.key) + " directory", utf8(value), given(element, kConfigName),
          " -> " + pathToDisplay(full) +
              (exists ? "" : entry.key == u"learning" ? " (created at load)" : " (missing)"));
    }
    for (const ConfigDefault& entry : kCategoryDefaults) {
      const XmlNode element =
          categories.findChildWithAttribute(kConfigDefine, kConfigType, entry.key);
      row("category " + utf8(entry.key), utf8(config_.category(entry.key)),
          given(element, kConfigCategory));
    }
    const bool speaks3 = config_.protocolVersion() == kProtocolVersion3;
    row("protocol", speaks3 ? "SHIORI/3.0" : "SHIORI/2.x", speaks3,
        speaks3 ? ": hosts that ask for the version speak 3.0" : "");
    listPairs(root.findChild(kConfigSeparations), {kConfigEvent, kConfigReference, kConfigExpr},
              "reference separation");
    listPairs(root.findChild(kConfigRenames), {kConfigName, kConfigRename}, "event rename");
  }

  void listPairs(const XmlNode& section, std::vector<std::u16string_view> attributes,
                 const std::string& what) {
    std::size_t listed = 0;
    for (XmlNode child = section.firstChild(); child; child = child.nextSibling()) {
      std::string line;
      for (std::u16string_view attribute : attributes) {
        if (std::optional<std::u16string> value = child.attribute(attribute)) {
          line += " " + utf8(attribute) + "=\"" + utf8(*value) + "\"";
        }
      }
      ++listed;
      out_ << "  " << what << ":" << line << "\n";
    }
    if (listed == 0) out_ << "  " << what << ": none\n";
  }

  std::string dir_;
  ZelkaConfig& config_;
  Findings& findings_;
  std::ostream& out_;
  std::string text_;
  std::vector<std::size_t> tags_;
  std::vector<XmlNode> order_;
  const std::vector<ConfigElementRule> layout_ = configLayout();
};

}  // namespace

bool lintConfiguration(const std::string& ghostDirectory, ZelkaConfig& config,
                       Findings& findings, std::ostream& report) {
  return ConfigLint(ghostDirectory, config, findings, report).run();
}

}  // namespace zelka::host
