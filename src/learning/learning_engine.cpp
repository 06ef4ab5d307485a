#include "learning/learning_engine.h"

#include <exception>
#include <optional>
#include <set>

#include "config/zelka_config.h"
#include "learning/concept_learning.h"
#include "learning/dictionary_import.h"
#include "learning/knowledge_set.h"
#include "learning/pending_imports.h"
#include "platform/path_text.h"
#include "platform/text_codec.h"

namespace zelka {
namespace {

// Tells the author what became of a dictionary that was not imported cleanly.
void reportDictionary(ProblemList* problems, const DictionaryImportReport& report,
                      const std::string& where, const std::string& learnedName) {
  if (problems == nullptr) return;
  if (!report.imported) {
    if (report.refusal.empty()) return;
    problems->report({Problem::Severity::Error, where,
                      "the dictionary was not imported: " + report.refusal +
                          "; it stays where it is and is tried again at the next start"});
  } else if (!report.saved) {
    problems->report({Problem::Severity::Error, where,
                      "the dictionary's words could not be saved to the learning directory; "
                      "it stays where it is and is imported again at the next start"});
  } else if (!report.moved) {
    problems->report({Problem::Severity::Warning, where,
                      "the dictionary was imported but could not be moved into " +
                          learnedName +
                          "; it is imported again at the next start and its words are "
                          "reinforced once more unless it is moved away"});
  }
}

}  // namespace

LearningEngine::LearningEngine() = default;

LearningEngine::~LearningEngine() { shutdown(); }

bool LearningEngine::start(const std::u16string& moduleDirectory) {
  shutdown();
  unmoved_.clear();
  if (moduleDirectory.empty()) return false;

  bool loaded = false;
  try {
    moduleDirectory_ = moduleDirectory;
    config_ = std::make_unique<ZelkaConfig>();
    if (!config_->read(moduleDirectory_)) {
      if (problems_ != nullptr) {
        problems_->report({Problem::Severity::Error, "zelkaconf.xml",
                           "the configuration cannot be read; the ghost does not start (zelka-host "
                           "check tells more)"});
      }
      return false;
    }

    const std::u16string vendorName = config_->directory(u"Directory", u"vender");
    const std::u16string vendorDirectory = moduleDirectory_ + vendorName;
    knowledge_ = std::make_unique<KnowledgeSet>();
    loaded = knowledge_->load(moduleDirectory_, config_.get(), problems_);

    // A vendor directory the path encoding cannot hold has no dictionaries to import.
    const std::optional<std::string> vendorPath = pathFromWide(vendorDirectory);
    const std::string vendor = vendorPath.value_or(std::string());
    const std::string learned = vendor + "learned/";
    // The record of dictionaries some stores could not save lives beside the stores; a
    // learning directory the path encoding cannot name has no stores and no record.
    std::optional<PendingImports> pending;
    if (const std::optional<std::string> learning = pathFromWide(knowledge_->learningDirectory())) {
      pending.emplace(*learning);
    }
    const DictionaryImportContext context{pending ? &*pending : nullptr, problems_};

    // Every dictionary still in the vendor directory is tried at each start, also a later
    // start in the same process: one left there (rejected, or not in every store yet) is
    // due again although it has not changed.
    fileTimes_.clear();
    std::vector<std::string> changed;
    if (vendorPath) scanChangedFiles(vendor, "mem", fileTimes_, changed);
    // A path listed twice by the directory search is still imported once.
    std::set<std::string> imported;
    for (const std::string& path : changed) {
      if (!imported.insert(path).second) continue;
      DictionaryImportReport report;
      importDictionary(learned, path, kDictionaryHeader, knowledge_.get(), &report, context);
      // A rejected file stays untouched; an imported one that could not be moved aside will
      // be read again at the next start. The author hears of both.
      if (report.imported && !report.moved) unmoved_.push_back(path);
      // The scan lists the vendor directory's files as that directory + the file name.
      const std::string where =
          toNarrow(vendorName) + (path.starts_with(vendor) ? path.substr(vendor.size()) : path);
      reportDictionary(problems_, report, where, toNarrow(vendorName + u"learned/"));
    }
    // A recorded file that is gone, or was edited, is a dictionary of its own now.
    if (pending) pending->forgetStale(vendor);
  } catch (const std::exception&) {
    // Out of memory or a failing file system: what loaded stays usable, the rest is skipped.
    return knowledge_ != nullptr && loaded;
  }
  return loaded;
}

void LearningEngine::shutdown() {
  // The knowledge set refers to the configuration: it goes first, saving its stores.
  if (knowledge_) knowledge_->saveAndClose(problems_);
  knowledge_.reset();
  config_.reset();
}

bool LearningEngine::snapshotChangedStores(std::vector<StoreSnapshot>& out) const {
  return knowledge_ ? knowledge_->snapshotChanged(out) : true;
}

void LearningEngine::markStoreSaved(const StoreSnapshot& written) {
  if (knowledge_) knowledge_->markSaved(written);
}

int LearningEngine::thinkPhase() const {
  return knowledge_ ? knowledge_->thinking().thinkPhase() : kThinkReady;
}

int LearningEngine::tickThinking() {
  return knowledge_ ? knowledge_->thinking().tickThinking() : 0;
}

int LearningEngine::acceptThinking(int level) {
  return knowledge_ ? knowledge_->thinking().acceptThinking(level) : kThinkReady;
}

int LearningEngine::thinkResult() const {
  return knowledge_ ? knowledge_->thinking().thinkResult() : kThinkUnset;
}

int LearningEngine::thinkTicks() const {
  return knowledge_ ? knowledge_->thinking().thinkTicks() : 0;
}

int LearningEngine::thinkWait() const {
  return knowledge_ ? knowledge_->thinking().thinkWait() : 0;
}

bool LearningEngine::takeSegments(std::deque<std::u16string>& out) {
  if (!knowledge_ || knowledge_->thinking().thinkPhase() == kThinkRunning) return false;
  knowledge_->thinking().takeSegments(out);
  return true;
}

bool LearningEngine::startThinking(const std::u16string& sender,
                                   const std::u16string& securityLevel,
                                   const std::u16string& text, int timeoutMs) {
  if (!knowledge_ || knowledge_->thinking().thinkPhase() == kThinkRunning) return false;
  knowledge_->thinking().startThinking(sender, securityLevel, text, timeoutMs);
  return true;
}

int LearningEngine::thinkNow(const std::u16string& sender, const std::u16string& securityLevel,
                             const std::u16string& text, std::deque<std::u16string>& segments) {
  if (!knowledge_) return segments.empty() ? kThinkCutEmpty : kThinkCutWithSegments;
  return knowledge_->thinking().thinkNow(sender, securityLevel, text, segments);
}

bool LearningEngine::associateCall(const std::u16string& argument, std::u16string& word) {
  if (!knowledge_) return false;
  try {
    WordList arguments;
    if (!splitCallArguments(argument, arguments) || arguments.empty()) return false;
    std::uint64_t depth = 0;
    return ConceptLearning(*knowledge_).associate(depthArgument(arguments, 1), depth,
                                                  arguments[0], word);
  } catch (const std::exception&) {
    return false;
  }
}

bool LearningEngine::unifyCall(const std::u16string& argument, std::u16string& word,
                               bool swap) {
  if (!knowledge_) return false;
  try {
    WordList arguments;
    if (!splitCallArguments(argument, arguments) || arguments.size() < 2) return false;
    const std::u16string& expression = swap ? arguments[1] : arguments[0];
    const std::u16string target = unescapeWord(swap ? arguments[0] : arguments[1]);
    std::uint64_t depth = 0;
    return ConceptLearning(*knowledge_).unify(depthArgument(arguments, 2), depth, expression,
                                              target, word);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace zelka
