// The brain behind the protocol front: the diagnostic log, the run level, the configuration,
// the owner ghost name, the module, vendor and learning paths, the script language's state
// (formula evaluator with the variables, knowledge base, event context, random generator,
// script engine), the counters of the event handling, the learning engine and the periodic
// save of what it learned (started with the session, stopped before anything is saved at
// shutdown).
//
// startScriptEngine brings a loaded module to life: it starts the learning engine, reads the
// knowledge files of the vendor directory, sets the reserved variables, runs the two reflex
// events and restores the variables saved in reflex.txt. shutdown saves them back; it saves
// only when they were restored at start-up, so a failed start never overwrites reflex.txt,
// and neither does a session whose reflex.txt was there but could not be read.
//
// Whatever goes wrong that the author must hear of is reported into problems(): knowledge
// files refused or cut short, the learning engine's reports, script errors, a reflex.txt
// that cannot be read or written. The list is emptied by beginSession() (at load) and kept
// after shutdown, so that a host can still ask for the problems of unload.
//
// The brain's data is its own: the protocol front (ShioriServer) reaches it through the
// accessors below.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "config/zelka_config.h"
#include "learning/learning_engine.h"
#include "script/event_context.h"
#include "script/formula_evaluator.h"
#include "script/knowledge_base.h"
#include "script/knowledge_file.h"
#include "script/script_engine.h"
#include "script/run_level.h"
#include "shiori/autosave.h"
#include "shiori/diagnostic_log.h"
#include "shiori/event_conversion.h"
#include "shiori/session_tuning.h"
#include "util/changed_files.h"
#include "util/mt19937.h"
#include "util/problem_list.h"

namespace zelka {

class Brain {
 public:
  Brain();
  virtual ~Brain();
  Brain(const Brain&) = delete;
  Brain& operator=(const Brain&) = delete;

  // The brain's initialiser. The vendor and learning paths end with their separator. False
  // when an argument is missing or empty, when the learning engine does not start or when the
  // configured birthday is empty.
  bool startScriptEngine(std::string_view moduleDirectory, std::string_view venderPath,
                         std::string_view learningPath);

  // Waits for thinking, shuts the learning engine down (it saves its stores), saves the
  // variables to reflex.txt (when they were restored at start-up), logs the save, sums up the
  // repeated script errors and deletes the configuration. Safe to call in any state, also
  // twice.
  void shutdownBrain();

  // Forgets the problems of the previous session; a load calls it before anything else.
  void beginSession();

  // The configured name of an event (the name itself without a configuration or rename).
  std::string eventRename(std::string_view name) const;

  RunLevel runLevel() const { return runLevel_; }
  void setRunLevel(int level);
  DiagnosticLog& log() { return log_; }
  // What went wrong in this session that the author must hear of. Every problem is also
  // written to the diagnostic log as it is reported, whatever the run level.
  ProblemList& problems() { return problems_; }
  const ZelkaConfig* config() const { return config_.get(); }
  const std::string& ownerGhostName() const { return ownerGhostName_; }
  void setOwnerGhostName(std::string name) { ownerGhostName_ = std::move(name); }
  const std::string& venderPath() const { return venderPath_; }
  const std::string& learningPath() const { return learningPath_; }
  std::string reflexFilePath() const { return learningPath_ + "reflex.txt"; }

  VariableTable& variables() { return evaluator_.variables(); }
  FormulaEvaluator& evaluator() { return evaluator_; }
  KnowledgeBase& knowledgeBase() { return knowledge_; }
  EventContext& eventContext() { return event_; }
  ScriptEngine& scriptEngine() { return script_; }
  LearningEngine& learningEngine() { return learning_; }
  Mt19937& scriptRandom() { return random_; }
  // What the host set in the environment for this session, read at each start.
  const SessionTuning& sessionTuning() const { return tuning_; }

  // Periodic saving of what was learned, counted in OnSecondChange events.
  Autosave& autosave() { return autosave_; }

  // The event handling's counters (free talk, listen time-out, body touch).
  EventCounters& eventCounters() { return counters_; }
  const EventCounters& eventCounters() const { return counters_; }

  // Sum of the counter queue's entries (it starts empty and nothing fills it).
  std::int32_t counterQueueSum() const;

 protected:
  // Replaces the configuration (null allowed) and attaches it to the script engine.
  void setConfig(std::unique_ptr<ZelkaConfig> config);

 private:
  bool loadReflexStage(std::string_view venderPath);
  void readKnowledgeFiles(const std::string& venderPath, const std::u16string& defaultToken,
                          const char* extension, bool scrambled);
  void reportKnowledgeFile(const std::string& where, const KnowledgeFileReport& report);

  void logProblem(const Problem& problem);
  // The path as the author names it: relative to the module directory when inside it.
  std::string authorPath(const std::string& path) const;

  DiagnosticLog log_;
  ProblemList problems_;
  RunLevel runLevel_;
  std::unique_ptr<ZelkaConfig> config_;
  std::string ownerGhostName_ = "Zelka";
  std::u16string moduleDirectoryWide_;
  std::string venderPath_;
  std::string learningPath_;
  FileTimeMap knowledgeFileTimes_;
  SessionTuning tuning_;

  // Script language state, declared before the engine that refers to it.
  FormulaEvaluator evaluator_;
  KnowledgeBase knowledge_;
  EventContext event_;
  Mt19937 random_;
  ScriptEngine script_;

  EventCounters counters_;
  std::deque<std::int32_t> counterQueue_;

  // True once the variables were restored from reflex.txt in this session.
  bool variablesRestored_ = false;
  // True when reflex.txt was there but could not be read: it is not overwritten.
  bool reflexUnreadable_ = false;

  LearningEngine learning_;
  // Declared after the learning engine, so destroyed before it: a write in progress ends
  // before the stores save themselves.
  Autosave autosave_;
};

}  // namespace zelka
