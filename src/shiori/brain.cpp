#include "shiori/brain.h"

#include <vector>

#include "learning/knowledge_set.h"
#include "platform/clock.h"
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
}

void Brain::logProblem(const Problem& problem) {
  log_.timeStamp();
  log_.write(" ");
  log_.write(severityName(problem.severity));
  log_.write(": ");
  if (!problem.where.empty()) {
    log_.write(problem.where);
    log_.write(": ");
  }
  log_.write(problem.message);
  log_.newline();
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

  if (!loadReflexStage(venderPath_)) return false;

  std::string birthday;
  if (config_) birthday = toNarrow(config_->profile(u"birthday"));
  variables().setVariable("__My_birthday", birthday);
  if (birthday.empty()) return false;
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
    parseKnowledgeFile(defaultToken, path, std::u16string(kKnowledgeHeader), scrambled,
                       knowledge_, nullptr, nullptr, &problems_);
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

  vars.loadVariables(reflexFilePath());
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
  if (variablesRestored_) {
    std::string path = reflexFilePath();
    variables().saveVariables(path);
    if (runLevel_.logsTraffic()) {
      log_.timeStamp();
      log_.newline();
      log_.write("save: ");
      log_.write(pathForDisplay(path));
      log_.newline();
    }
    variablesRestored_ = false;
  }
  setConfig(nullptr);
}

}  // namespace zelka
