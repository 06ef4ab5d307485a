#include "ghost_check.h"

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "config/zelka_config.h"
#include "learning/dictionary_import.h"
#include "platform/file_system.h"
#include "platform/text_codec.h"
#include "script/knowledge_file.h"
#include "store_census.h"
#include "terminal_text.h"
#include "util/changed_files.h"
#include "util/line_reader.h"
#include "util/text.h"
#include "xml/xml_document.h"

namespace zelka::host {

namespace {

constexpr std::u16string_view kProfileKeys[] = {u"locale",         u"ghost_id",
                                                u"ghost_name",     u"birthday",
                                                u"emotion_border", u"talk_interval",
                                                u"listen_wait",    u"think_wait"};
constexpr std::u16string_view kCategoryCodes[] = {u"ms", u"mz", u"ml", u"mc", u"mh",
                                                  u"mt", u"me", u"mp", u"m?"};
// Lines of one file reported as not Shift_JIS before the rest are only counted.
constexpr std::size_t kEncodingLinesShown = 5;

std::string utf8(std::u16string_view wide) { return utf16ToUtf8(wide); }

std::string padded(const std::string& text, std::size_t width) {
  const std::size_t used = displayWidth(text);
  return used >= width ? text + " " : text + std::string(width - used, ' ');
}

std::string hexByte(unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(byte));
  return text;
}

class Checker {
 public:
  Checker(std::string ghostDirectory, std::ostream& out)
      : dir_(std::move(ghostDirectory)), out_(out) {}

  int run() {
    std::error_code error;
    if (!std::filesystem::is_directory(dir_, error)) {
      out_ << "zelka-host: no ghost directory at " << dir_ << "\n";
      return 1;
    }
    if (dir_.back() != '/') dir_ += '/';
    out_ << "Ghost directory: " << dir_ << "\n";
    if (!checkConfiguration()) {
      out_ << "\nA load would fail: the module cannot start without its configuration.\n";
      return 1;
    }
    const std::string vendor = dir_ + toNarrow(config_.directory(u"Directory", u"vender"));
    checkKnowledgeFiles(vendor);
    checkDictionaries(vendor);
    checkLearnedStores();
    out_ << "\n";
    if (problems_ == 0) {
      out_ << "No problems found.\n";
      return 0;
    }
    out_ << problems_ << (problems_ == 1 ? " problem" : " problems") << " found (marked !).\n";
    return 1;
  }

 private:
  void problem(const std::string& text) {
    ++problems_;
    out_ << "  ! " << text << "\n";
  }

  // The configuration as a load reads it. The document itself is read a second time, from
  // its bytes, to tell the values the file sets from the defaults.
  bool checkConfiguration() {
    const std::string path = dir_ + "zelkaconf.xml";
    out_ << "\nConfiguration " << path << "\n";
    if (!fileExists(path)) {
      problem("the file is missing");
      return false;
    }
    if (!config_.read(toWide(dir_))) {
      problem("the file cannot be read as XML (a parse error, or an encoding that is neither "
              "Shift_JIS nor UTF-8)");
      return false;
    }
    XmlDocument raw;
    if (std::optional<std::string> bytes = readFile(path)) raw.openFromText(*bytes);
    const XmlNode root = raw.documentElement(u"ZelkaConfiguration");
    if (!root) out_ << "  (no ZelkaConfiguration element: every value is a default)\n";
    const XmlNode profile = root.findChild(u"GhostProfile");
    const XmlNode environment = root.findChild(u"RunEnvironment");
    const XmlNode categories = root.findChild(u"DefaultCategory");
    auto given = [](const XmlNode& element, std::u16string_view attribute) {
      std::optional<std::u16string> value = element.attribute(attribute);
      return value && !value->empty();
    };
    auto row = [&](const std::string& key, const std::string& value, bool fromFile,
                   const std::string& extra = {}) {
      out_ << "  " << padded(key, 20) << padded(value.empty() ? "(empty)" : value, 12)
           << (fromFile ? "" : "(default)") << extra << "\n";
    };

    for (std::u16string_view key : kProfileKeys) {
      const std::u16string value = config_.profile(key);
      std::string extra;
      if (key == u"locale" && value.empty()) extra = ": the system's default locale";
      row(utf8(key), utf8(value), given(profile, key) || (key == u"locale" && value.empty()),
          extra);
    }
    row("runlevel", std::to_string(config_.runlevel()), given(environment, u"runlevel"),
        config_.runlevel() == 0 ? ": no diagnostic log" : ": zelka.log in the current directory");
    for (std::u16string_view key : {u"vender", u"learning"}) {
      const std::u16string value = config_.directory(u"Directory", key);
      const XmlNode element =
          environment.findChildWithAttribute(u"Directory", u"type", std::u16string(key));
      const std::string full = dir_ + toNarrow(value);
      std::error_code error;
      const bool exists = std::filesystem::is_directory(full, error);
      row(utf8(key) + " directory", utf8(value), given(element, u"name"),
          " -> " + full + (exists ? "" : key == u"learning" ? " (created at load)" : " (missing)"));
    }
    for (std::u16string_view code : kCategoryCodes) {
      const XmlNode element =
          categories.findChildWithAttribute(u"Define", u"type", std::u16string(code));
      row("category " + utf8(code), utf8(config_.category(code)), given(element, u"category"));
    }
    listPairs(root.findChild(u"ReferenceSeparation"), {u"event", u"reference", u"expr"},
              "reference separation");
    listPairs(root.findChild(u"EventRename"), {u"name", u"rename"}, "event rename");
    return true;
  }

  // The children of a section with their attributes; one that lacks any is skipped by the
  // load, which the report says.
  void listPairs(const XmlNode& section, std::vector<std::u16string_view> attributes,
                 const std::string& what) {
    std::size_t listed = 0;
    for (XmlNode child = section.firstChild(); child; child = child.nextSibling()) {
      std::string line;
      std::string missing;
      for (std::u16string_view attribute : attributes) {
        std::optional<std::u16string> value = child.attribute(attribute);
        if (!value) {
          missing += (missing.empty() ? "" : ", ") + utf8(attribute);
          continue;
        }
        line += " " + utf8(attribute) + "=\"" + utf8(*value) + "\"";
      }
      ++listed;
      if (missing.empty()) {
        out_ << "  " << what << ":" << line << "\n";
      } else {
        problem(what + " <" + utf8(child.tagName()) + "> lacks " + missing +
                ": the load skips it");
      }
    }
    if (listed == 0) out_ << "  " << what << ": none\n";
  }

  void checkKnowledgeFiles(const std::string& vendor) {
    out_ << "\nKnowledge files in " << vendor << "\n";
    std::error_code error;
    if (!std::filesystem::is_directory(vendor, error)) {
      problem("the vendor directory does not exist: the ghost has nothing to say");
      return;
    }
    const std::u16string defaultToken = config_.eventRename(u"OnZelkaFreeTalk");
    KnowledgeBase base;
    std::size_t files = 0;
    for (const char* extension : {"tlk", "tlc"}) {
      const bool scrambled = extension == std::string("tlc");
      FileTimeMap times;
      std::vector<std::string> paths;
      scanChangedFiles(vendor, extension, times, paths);
      for (const std::string& path : paths) {
        ++files;
        checkKnowledgeFile(path, scrambled, defaultToken, base);
      }
    }
    if (files == 0) {
      problem("no *.tlk or *.tlc file: the ghost has nothing to say");
      return;
    }
    std::map<std::string, std::size_t> perToken;
    for (const auto& [token, entry] : base) ++perToken[token];
    out_ << "\nEntries per token (" << perToken.size() << " tokens, " << base.size()
         << " entries)\n";
    for (const auto& [token, count] : perToken) {
      out_ << "  " << padded(shiftJisToDisplay(token), 32) << count << "\n";
    }
  }

  void checkKnowledgeFile(const std::string& path, bool scrambled,
                          const std::u16string& defaultToken, KnowledgeBase& base) {
    const std::string name = shiftJisToDisplay(fileNameOf(path));
    KnowledgeFileReport report;
    if (!parseKnowledgeFile(defaultToken, path, std::u16string(kKnowledgeFileHeader), scrambled,
                            base, &report)) {
      out_ << "  " << name << ": rejected\n";
      problem(name + ": " + rejection(path, scrambled, report.status));
      return;
    }
    out_ << "  " << name << ": read, " << report.blocksCommitted
         << (report.blocksCommitted == 1 ? " block, " : " blocks, ") << report.entriesAdded
         << (report.entriesAdded == 1 ? " entry" : " entries") << "\n";
    if (report.entriesDropped > 0) {
      problem(name + ": " + std::to_string(report.entriesDropped) +
              " entries dropped (their token line has no token)");
    }
    if (report.unclosedBraces > 0) {
      problem(name + ": " + std::to_string(report.unclosedBraces) +
              (report.unclosedBraces == 1 ? " brace" : " braces") +
              " left open at the end of the file: the unclosed block is lost");
    }
    scanEncoding(path, name, scrambled);
  }

  // Why the reader refused a file, as precisely as its first line tells.
  static std::string rejection(const std::string& path, bool scrambled,
                               KnowledgeFileStatus status) {
    switch (status) {
      case KnowledgeFileStatus::kCannotOpen: return "cannot open the file";
      case KnowledgeFileStatus::kEmpty: return "the file is empty";
      case KnowledgeFileStatus::kMissingArgument:
      case KnowledgeFileStatus::kNoFileName: return "not a file";
      case KnowledgeFileStatus::kBadHeader:
      case KnowledgeFileStatus::kRead: break;
    }
    const std::string header = toNarrow(kKnowledgeFileHeader);
    const std::string headerText = header.substr(0, header.size() - 1);
    LineReader reader(path, kKnowledgeReadBuffer);
    std::string first;
    reader.readLine(first);
    // The first line as this file's form reads it, and as the other form would.
    std::string complemented = first;
    complementRead(complemented);
    std::string asRead = scrambled ? complemented : first;
    const std::string& other = scrambled ? first : complemented;
    if (first.starts_with("\xEF\xBB\xBF")) {
      return "header: the file begins with a UTF-8 byte order mark (save it as Shift_JIS "
             "without one)";
    }
    if (asRead == headerText) {
      return "header: the file holds only the header line, without a line end after it";
    }
    if (other == header) {
      return scrambled ? "header: the file is plain text but named .tlc (use zelka-host "
                         "scramble, or name it .tlk)"
                       : "header: the file is scrambled but named .tlk (name it .tlc)";
    }
    if (!asRead.empty() && asRead.back() == '\n') asRead.pop_back();
    if (findInvalidShiftJis(asRead)) {
      return "encoding: the first line is not Shift_JIS text, so it cannot be the header " +
             headerText;
    }
    std::string shown = shiftJisToDisplay(asRead);
    if (shown.size() > 60) shown = shown.substr(0, 60) + "...";
    return "header: the first line is \"" + shown + "\", not " + headerText;
  }

  // Reports the lines the reader cuts short because they are not Shift_JIS (the reader stops
  // converting a line at its first such byte and loses the rest), and lines long enough to be
  // read in pieces.
  void scanEncoding(const std::string& path, const std::string& name, bool scrambled) {
    LineReader reader(path, kKnowledgeReadBuffer);
    std::string piece;
    std::size_t line = 1;
    std::size_t badLines = 0;
    bool looksUtf8 = true;
    bool continued = false;  // the read goes on with the line of the previous one
    while (reader.readLine(piece)) {
      if (scrambled) complementRead(piece);
      const bool ends = !piece.empty() && piece.back() == '\n';
      if (ends) piece.pop_back();
      const std::size_t zero = piece.find('\0');
      if (line > 1 && zero != std::string::npos) {
        problem(name + ": line " + std::to_string(line) +
                " holds a zero byte: the rest of the line is lost");
        piece.resize(zero);
      }
      if (std::optional<std::size_t> bad = findInvalidShiftJis(piece); bad && line > 1) {
        ++badLines;
        if (findInvalidUtf8(piece)) looksUtf8 = false;
        if (badLines <= kEncodingLinesShown) {
          problem(name + ": line " + std::to_string(line) + ": byte " +
                  hexByte(static_cast<unsigned char>(piece[*bad])) + " at column " +
                  std::to_string(*bad + 1) +
                  " is not Shift_JIS; the line is lost from there on");
        }
      }
      if (!ends && !continued && piece.size() + 1 == kKnowledgeReadBuffer) {
        out_ << "  " << name << ": line " << line << " is longer than "
             << kKnowledgeReadBuffer - 1 << " bytes; each piece is read as a line of its own\n";
      }
      continued = !ends;
      if (ends) ++line;
    }
    if (badLines > kEncodingLinesShown) {
      out_ << "  " << name << ": " << badLines - kEncodingLinesShown
           << " more lines that are not Shift_JIS\n";
    }
    if (badLines > 0 && looksUtf8) {
      out_ << "  " << name << ": the file looks like UTF-8; save it as Shift_JIS\n";
    }
  }

  void checkDictionaries(const std::string& vendor) {
    out_ << "\nDictionaries waiting for import (" << vendor << "*.mem)\n";
    std::optional<std::vector<DirectoryEntry>> entries = listDirectory(vendor, "*.mem");
    std::size_t waiting = 0;
    for (const DirectoryEntry& entry : entries.value_or(std::vector<DirectoryEntry>{})) {
      if (entry.isDirectory) continue;
      ++waiting;
      const std::string name = shiftJisToDisplay(entry.name);
      DictionaryCensus census;
      if (readDictionary(vendor + entry.name, kDictionaryHeader, census)) {
        out_ << "  " << name << ": " << census.categories.size() << " categories, " << census.groups
             << " word groups, " << census.words << " words; imported and moved to learned/ "
             << "at the next load\n";
      } else {
        out_ << "  " << name << ": will not be imported\n";
        problem(name + ": the file is empty, unreadable or its first line is not "
                "[ZELKA DICTIONARY]; it stays where it is");
      }
    }
    if (waiting == 0) out_ << "  none\n";
  }

  void checkLearnedStores() {
    const std::string learning = dir_ + toNarrow(config_.directory(u"Directory", u"learning"));
    out_ << "\nLearned stores in " << learning << " (counted read-only)\n";
    const LearnedStores stores = countLearnedStores(learning);
    out_ << describeStores(stores, "  ");
    for (const StoreCount* store : {&stores.bind, &stores.index, &stores.journal, &stores.neurons}) {
      if (store->state == StoreState::kBroken || store->state == StoreState::kUnreadable) {
        problem("a learned store cannot be read (see above)");
      }
    }
  }

  // Counts what a dictionary would teach.
  struct DictionaryCensus : DictionaryLearner {
    std::size_t groups = 0, words = 0;
    std::set<std::u16string> categories;
    void neuronFor(std::u16string_view) override {}
    void learnCategory(std::u16string_view category,
                       const std::vector<std::u16string>& group) override {
      categories.emplace(category);
      ++groups;
      words += group.size();
    }
    void learnWord(std::u16string_view) override {}
  };

  std::string dir_;
  std::ostream& out_;
  ZelkaConfig config_;
  int problems_ = 0;
};

}  // namespace

int checkGhost(const std::string& ghostDirectory, std::ostream& out) {
  return Checker(ghostDirectory, out).run();
}

}  // namespace zelka::host
