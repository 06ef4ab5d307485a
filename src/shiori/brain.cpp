#include "shiori/brain.h"

#include <vector>

#include "learning/knowledge_set.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/path_text.h"
#include "platform/text_codec.h"
#include "script/knowledge_file.h"
#include "script/think_codes.h"
#include "util/number_text.h"

namespace zelka {

namespace {

constexpr std::u16string_view kKnowledgeHeader = u"[ZELKA KNOWLEDGE 2.0]\n";

}  // namespace

Brain::Brain()
    : script_(evaluator_, knowledge_, event_, random_, log_) {
  random_.seed(static_cast<std::uint32_t>(secondsSinceEpoch()));
  script_.setKnowledgeQueries(&learning_);
  problems_.setObserver([this](const Problem& problem) { logProblem(problem); });
  learning_.setProblems(&problems_);
  script_.problems().setList(&problems_);
}

void Brain::beginSession() {
  problems_.clear();
  script_.problems().forget();
}

std::string Brain::authorPath(const std::string& path) const {
  const std::string module = pathFromWide(moduleDirectoryWide_).value_or(std::string());
  if (!module.empty() && path.starts_with(module)) return path.substr(module.size());
  return path;
}

void Brain::logProblem(const Problem& problem) {
  // One entry, written even when a runaway script used up the request's share of the log.
  std::string entry = "[" + asctimeNow() + "] " + severityName(problem.severity) + ": ";
  if (!problem.where.empty()) entry += problem.where + ": ";
  entry += problem.message;
  entry += '\n';
  log_.writeEntry(entry);
}

Brain::~Brain() = default;

void Brain::setRunLevel(int level) {
  runLevel_ = RunLevel(level);
  script_.setRunLevel(level);
}

void Brain::setConfig(std::unique_ptr<ZelkaConfig> config) {
  script_.setConfig(config.get());
  config_ = std::move(config);
}

std::string Brain::eventRename(std::string_view name) const {
  if (!config_) return std::string(name);
  std::u16string wide = toWide(name);
  // A name that does not convert completely cannot be matched against the configuration.
  if (toNarrow(wide) != name) return std::string(name);
  return toNarrow(config_->eventRename(wide));
}

std::int32_t Brain::counterQueueSum() const {
  std::uint32_t sum = 0;
  for (std::int32_t value : counterQueue_) sum += static_cast<std::uint32_t>(value);
  return static_cast<std::int32_t>(sum);
}

bool Brain::startScriptEngine(std::string_view moduleDirectory, std::string_view venderPath,
                              std::string_view learningPath) {
  autosave_.stop();
  if (moduleDirectory.empty() || venderPath.empty() || learningPath.empty()) return false;
  // The learning engine reads its own copy of the configuration through the wide form.
  std::optional<std::u16string> wideDirectory = pathToWide(moduleDirectory);
  if (!wideDirectory) return false;
  moduleDirectoryWide_ = std::move(*wideDirectory);
  venderPath_ = std::string(venderPath);
  learningPath_ = std::string(learningPath);
  script_.problems().setSourceDirectory(authorPath(venderPath_));

  if (!loadReflexStage(venderPath_)) return false;

  std::string birthday;
  if (config_) birthday = toNarrow(config_->profile(u"birthday"));
  variables().setVariable("__My_birthday", birthday);
  if (birthday.empty()) {
    problems_.report({Problem::Severity::Error, "zelkaconf.xml",
                      "the GhostProfile has no birthday; the ghost does not start without one"});
    return false;
  }
  autosave_.start(Autosave::configuredInterval(config_.get(), &problems_));
  return true;
}

void Brain::readKnowledgeFiles(const std::string& venderPath,
                               const std::u16string& defaultToken, const char* extension,
                               bool scrambled) {
  std::vector<std::string> changed;
  if (!scanChangedFiles(venderPath, extension, knowledgeFileTimes_, changed)) return;
  for (const std::string& path : changed) {
    // A file that fails to read contributes nothing; the others are still read.
    KnowledgeFileReport report;
    parseKnowledgeFile(defaultToken, path, std::u16string(kKnowledgeHeader), scrambled,
                       knowledge_, &report, nullptr, &problems_);
    reportKnowledgeFile(authorPath(path), report);
  }
}

void Brain::reportKnowledgeFile(const std::string& where, const KnowledgeFileReport& report) {
  const char* refusal = nullptr;
  std::string at = where;
  switch (report.status) {
    case KnowledgeFileStatus::kRead: break;
    case KnowledgeFileStatus::kMissingArgument:
    case KnowledgeFileStatus::kNoFileName:
    // The reader told the author which character Shift_JIS cannot write, and where.
    case KnowledgeFileStatus::kNotConvertible: return;
    case KnowledgeFileStatus::kCannotOpen: refusal = "the file cannot be read"; break;
    case KnowledgeFileStatus::kEmpty: refusal = "the file is empty"; break;
    case KnowledgeFileStatus::kBadHeader:
      refusal = "its first line is not exactly \"[ZELKA KNOWLEDGE 2.0]\"";
      at += ":1";
      break;
  }
  if (refusal != nullptr) {
    problems_.report({Problem::Severity::Error, at,
                      std::string("the knowledge file was not read: ") + refusal +
                          "; none of its talk is in use"});
    return;
  }
  if (report.unclosedBraces > 0) {
    problems_.report({Problem::Severity::Error,
                      where + ":" + std::to_string(report.unclosedBlockLine),
                      "the block that begins here is not closed by the end of the file; it "
                      "was dropped (a \"}\" is missing, or one inside a script is "
                      "unbalanced)"});
  }
}

bool Brain::loadReflexStage(std::string_view venderPath) {
  // Each start reads the knowledge files afresh, so a reload neither doubles the entries
  // nor misses files that did not change since the previous start.
  knowledge_.clear();
  knowledgeFileTimes_.clear();
  variablesRestored_ = false;

  if (!learning_.start(moduleDirectoryWide_)) return false;

  // A host that wants a repeatable session seeds both generators before anything draws.
  tuning_ = readSessionTuning();
  if (tuning_.randomSeed) {
    random_.seed(*tuning_.randomSeed);
    if (KnowledgeSet* set = learning_.knowledgeSet()) set->seedRandom(*tuning_.randomSeed);
  }

  std::u16string defaultToken = toWide(eventRename("OnZelkaFreeTalk"));
  const std::string vender(venderPath);
  readKnowledgeFiles(vender, defaultToken, "tlk", false);
  readKnowledgeFiles(vender, defaultToken, "tlc", true);

  VariableTable& vars = variables();
  std::string talkInterval;
  if (config_) talkInterval = toNarrow(config_->profile(u"talk_interval"));
  vars.setVariable("__TalkInterval", talkInterval);

  std::string discarded;
  script_.runTalk(eventRename("OnZelkaReflexFirstInitialize"), discarded, false);

  reflexUnreadable_ = false;
  if (!vars.loadVariables(reflexFilePath()) && fileExists(reflexFilePath())) {
    reflexUnreadable_ = true;
    problems_.report({Problem::Severity::Error, authorPath(reflexFilePath()),
                      "the saved variables cannot be read; they were not restored, and the "
                      "file is not overwritten at unload"});
  }
  variablesRestored_ = true;

  script_.runTalk(eventRename("OnZelkaReflexInitialize"), discarded, false);

  counters_.secondCounter = 0;
  std::string listenWait;
  if (config_) listenWait = toNarrow(config_->profile(u"listen_wait"));
  counters_.listenWait = parseInt32Prefix(listenWait);
  counters_.listenCounter = 0;

  vars.setVariable("__Listen_id", "none");
  vars.setVariableUnsigned("__Think_accept", static_cast<std::uint32_t>(kThinkReady));
  return true;
}

void Brain::shutdownBrain() {
  autosave_.stop();
  learning_.acceptThinking(kThinkReady);
  learning_.shutdown();
  if (variablesRestored_ && reflexUnreadable_) {
    problems_.report({Problem::Severity::Critical, authorPath(reflexFilePath()),
                      "the variables of this session were not saved: the file could not be "
                      "read at load and is kept as it is"});
  } else if (variablesRestored_) {
    std::string path = reflexFilePath();
    if (!variables().saveVariables(path)) {
      problems_.report({Problem::Severity::Critical, authorPath(path),
                        "cannot be written (is the learning directory writable, the disk not "
                        "full?); the variables of this session are lost, the file keeps what "
                        "it held before"});
    }
    if (runLevel_.logsTraffic()) {
      log_.timeStamp();
      log_.newline();
      log_.write("save: ");
      log_.write(pathForDisplay(path));
      log_.newline();
    }
  }
  variablesRestored_ = false;
  reflexUnreadable_ = false;
  script_.problems().reportRepeats();
  setConfig(nullptr);
}

}  // namespace zelka
