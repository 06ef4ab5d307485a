#include "ghost_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include "config/zelka_config.h"
#include "config_lint.h"
#include "knowledge_lint.h"
#include "learning/dictionary_import.h"
#include "lint_findings.h"
#include "platform/file_system.h"
#include "platform/path_text.h"
#include "platform/text_codec.h"
#include "script/knowledge_file.h"
#include "store_census.h"
#include "terminal_text.h"
#include "util/author_text.h"
#include "util/changed_files.h"
#include "util/text.h"
#include "util/text_encoding.h"

namespace zelka::host {

namespace {

std::string padded(const std::string& text, std::size_t width) {
  const std::size_t used = displayWidth(text);
  return used >= width ? text + " " : text + std::string(width - used, ' ');
}

std::size_t lineOf(std::string_view text, std::size_t offset) {
  std::size_t line = 1;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i) line += text[i] == '\n';
  return line;
}

// Whether the module, run by the ghost's owner, can create and replace files in the
// directory. The owner's write bit is asked as well as access(): a check run as root is
// granted everything, the host that loads the ghost is not.
bool writableDirectory(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  if (::access(path.c_str(), W_OK | X_OK) != 0) return false;
  return ::geteuid() != 0 || (info.st_mode & S_IWUSR) != 0;
}

class Checker {
 public:
  Checker(std::string ghostDirectory, std::ostream& out, CheckOptions options)
      : dir_(std::move(ghostDirectory)), out_(out), options_(options),
        report_(options.brief ? static_cast<std::ostream&>(discard_) : out) {}

  int run() {
    if (!isDirectory(dir_)) {
      findings_.error(dir_, 0, fileExists(dir_)
                                   ? "a file, not a ghost directory: give the folder that "
                                     "holds zelkaconf.xml"
                                   : "no such ghost directory");
      return finish();
    }
    if (dir_.back() != '/') dir_ += '/';
    report_ << "Ghost directory: " << dir_ << "\n";
    reported_ = !options_.brief;
    if (!lintConfiguration(dir_, config_, findings_, report_)) {
      report_ << "\nA load would fail: the module cannot start without its configuration.\n";
      return finish();
    }
    const std::string vendorName =
        pathFromWide(config_.directory(u"Directory", u"vender")).value_or(std::string());
    checkKnowledgeFiles(vendorName);
    checkDictionaries(vendorName);
    checkLearning();
    return finish();
  }

 private:
  int finish() {
    if (!findings_.all().empty()) {
      if (reported_) out_ << "\nFindings\n";
      findings_.print(out_);
    }
    const std::size_t errors = findings_.errors(), warnings = findings_.warnings();
    if (reported_) out_ << "\n";
    if (errors == 0 && warnings == 0) {
      out_ << "No problems found.\n";
      return 0;
    }
    out_ << errors << (errors == 1 ? " error, " : " errors, ") << warnings
         << (warnings == 1 ? " warning" : " warnings") << ".\n";
    return errors > 0 || (options_.strict && warnings > 0) ? 1 : 0;
  }

  void checkKnowledgeFiles(const std::string& vendorName) {
    const std::string vendor = dir_ + vendorName;
    report_ << "\nKnowledge files in " << pathToDisplay(vendor) << "\n";
    const std::string shownVendor = vendorName.empty() ? "." : pathToDisplay(vendorName);
    if (!isDirectory(vendor)) {
      findings_.error(shownVendor, 0,
                      "the vendor directory does not exist: the ghost has nothing to say");
      return;
    }
    KnowledgeLint lint(dir_, config_, findings_);
    std::size_t files = 0;
    for (const char* extension : {"tlk", "tlc"}) {
      const bool scrambled = extension == std::string("tlc");
      FileTimeMap times;
      std::vector<std::string> paths;
      scanChangedFiles(vendor, extension, times, paths);
      for (const std::string& path : paths) {
        ++files;
        const std::string name = pathToDisplay(fileNameOf(path));
        const KnowledgeFileReport report = lint.readFile(path, scrambled);
        if (report.status != KnowledgeFileStatus::kRead) {
          report_ << "  " << name << ": rejected\n";
          continue;
        }
        report_ << "  " << name << ": read, " << report.blocksCommitted
                << (report.blocksCommitted == 1 ? " block, " : " blocks, ")
                << report.entriesAdded << (report.entriesAdded == 1 ? " entry" : " entries")
                << "\n";
      }
    }
    if (files == 0) {
      findings_.error(shownVendor, 0, "no *.tlk or *.tlc file: the ghost has nothing to say");
      return;
    }
    lint.checkEntries();
    std::map<std::string, std::size_t> perToken;
    for (const auto& [token, entry] : lint.base()) ++perToken[token];
    report_ << "\nEntries per token (" << perToken.size() << " tokens, " << lint.base().size()
            << " entries)\n";
    for (const auto& [token, count] : perToken) {
      report_ << "  " << padded(shiftJisToDisplay(token), 32) << count << "\n";
    }
  }

  void checkDictionaries(const std::string& vendorName) {
    const std::string vendor = dir_ + vendorName;
    report_ << "\nDictionaries waiting for import (" << pathToDisplay(vendor) << "*.mem)\n";
    std::optional<std::vector<DirectoryEntry>> entries = listDirectory(vendor, "*.mem");
    std::size_t waiting = 0;
    for (const DirectoryEntry& entry : entries.value_or(std::vector<DirectoryEntry>{})) {
      if (entry.isDirectory) continue;
      ++waiting;
      const std::string name = shiftJisToDisplay(entry.name);
      const std::string file = pathToDisplay(vendorName + entry.name);
      // The text as a load reads it: up to a byte 0x1A, converted when saved as UTF-8.
      const AuthorText text =
          readAuthorText(std::string(beforeEndOfText(readFile(vendor + entry.name).value_or(""))));
      if (text.form == AuthorText::Form::kNotConvertible) {
        report_ << "  " << name << ": will not be imported\n";
        const std::string why = describeNotConvertible(text);
        findings_.error(file, text.line,
                        (text.line == 0 ? why : "the file is " + why) +
                            ": it is not imported and stays where it is");
        continue;
      }
      DictionaryCensus census;
      if (!readDictionary(vendor + entry.name, kDictionaryHeader, census)) {
        report_ << "  " << name << ": will not be imported\n";
        findings_.error(file, 1, "the file is empty, unreadable or its first line is not "
                                 "exactly [ZELKA DICTIONARY]: it is not imported and stays "
                                 "where it is");
        continue;
      }
      report_ << "  " << name << ": " << census.categories.size() << " categories, "
              << census.groups << " word groups, " << census.words
              << " words; imported and moved to learned/ at the next load\n";
      checkDictionaryEncoding(text, file);
    }
    if (waiting == 0) report_ << "  none\n";
    if (waiting > 0 && !writableDirectory(vendor)) {
      findings_.warning(vendorName.empty() ? "." : pathToDisplay(vendorName), 0,
                        "the vendor directory is not writable: the dictionaries cannot be "
                        "moved to learned/ after their import, so every load imports them "
                        "again");
    }
  }

  void checkDictionaryEncoding(const AuthorText& text, const std::string& file) {
    if (text.form == AuthorText::Form::kConvertedFromUtf8) {
      findings_.warning(file, 0, "the file is saved as UTF-8: a load reads it converted to "
                                 "Shift_JIS; save it as Shift_JIS");
    } else if (detectTextEncoding(text.bytes) == TextEncoding::kUnknown) {
      const std::string& bytes = text.bytes;
      const std::size_t at = firstNonShiftJisByte(bytes);
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X",
                    static_cast<unsigned>(static_cast<unsigned char>(bytes[at])));
      findings_.error(file, lineOf(bytes, at),
                      std::string("byte ") + hex + " is not Shift_JIS: the line is learned "
                      "only up to it");
    }
  }

  void checkLearning() {
    const std::string name =
        pathFromWide(config_.directory(u"Directory", u"learning")).value_or(std::string());
    const std::string learning = dir_ + name;
    report_ << "\nLearned stores in " << pathToDisplay(learning) << " (counted read-only)\n";
    const LearnedStores stores = countLearnedStores(learning);
    report_ << describeStores(stores, "  ");
    const std::pair<const StoreCount*, const char*> files[] = {
        {&stores.bind, "bind.xml"}, {&stores.index, "index.xml"},
        {&stores.journal, "journal.xml"}, {&stores.neurons, "neuron.xml"}};
    for (const auto& [store, file] : files) {
      if (store->state == StoreState::kBroken || store->state == StoreState::kUnreadable) {
        findings_.error(shiftJisToDisplay(name) + file, 0,
                        "the store cannot be read: the next load sets it aside and starts it "
                        "afresh, so what it holds is no longer used");
      }
    }
    const std::string shown = shiftJisToDisplay(name.empty() ? "." : name);
    std::string path = learning;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (fileExists(path) && !isDirectory(path)) {
      findings_.error(shown, 0, "a file stands where the learning directory belongs: a load "
                                "cannot keep what the ghost learns; move the file away");
      return;
    }
    if (isDirectory(path)) {
      if (!writableDirectory(path)) {
        findings_.error(shown, 0, "the learning directory is not writable: the ghost cannot "
                                  "save what it learns (it is lost at every unload); make it "
                                  "writable");
      }
      return;
    }
    // Missing: a load creates it (one level) in its parent.
    std::string parent = path.substr(0, path.find_last_of('/') + 1);
    if (parent.empty()) parent = ".";
    if (!isDirectory(parent) || !writableDirectory(parent)) {
      findings_.error(shown, 0, "the learning directory cannot be created (" +
                                    shiftJisToDisplay(parent) +
                                    " is missing or not writable): the ghost cannot save what "
                                    "it learns");
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
  CheckOptions options_;
  std::ostringstream discard_;
  std::ostream& report_;
  ZelkaConfig config_;
  Findings findings_;
  bool reported_ = false;  // the report above the findings was written
};

}  // namespace

int checkGhost(const std::string& ghostDirectory, std::ostream& out, CheckOptions options) {
  return Checker(ghostDirectory, out, options).run();
}

}  // namespace zelka::host
