// The learning engine starts what the ghost has learned: it reads its own copy of the
// configuration, creates and loads the knowledge set from the learning directory and imports
// every new dictionary file ("*.mem") of the vendor directory, moving each into "learned/".
// It forwards the think operations of the knowledge set to the protocol front and answers the
// script language's association and unification queries.
//
// Without a knowledge set (start failed or never ran) every forward answers a neutral value:
// phase 1, result 0, ticks 0, false, and thinkNow refuses (2 or 3 by the caller's queue).
// shutdown() saves the knowledge set's stores, destroys it and then the configuration; it is
// idempotent and the destructor calls it.
//
// What the author must hear of goes to the problem list, when one is set: a configuration
// that cannot be read, a store that does not load or was kept aside, a dictionary refused,
// imported but not saved or not moved into "learned/", a store that cannot be saved at
// shutdown (critical).
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "script/knowledge_queries.h"
#include "util/changed_files.h"
#include "util/problem_list.h"

namespace zelka {

class KnowledgeSet;
class ProblemList;
class ZelkaConfig;
struct StoreSnapshot;

class LearningEngine : public KnowledgeQueries {
 public:
  LearningEngine();
  ~LearningEngine() override;
  LearningEngine(const LearningEngine&) = delete;
  LearningEngine& operator=(const LearningEngine&) = delete;

  // Reads moduleDirectory + "zelkaconf.xml", loads the knowledge set and imports the
  // dictionary files of the vendor directory. Answers the knowledge set's load result; false without creating a
  // knowledge set when the directory is empty or the configuration cannot be read. A second
  // start shuts the first one down before it begins. A dictionary that some stores could not
  // save is recorded in the learning directory (learning/pending_imports.h), so that later
  // starts teach it only to the stores that lack it.
  bool start(const std::u16string& moduleDirectory);
  void shutdown();

  // Where problems the author must hear of go (null: nowhere). The list must outlive the
  // engine's use of it.
  void setProblems(ProblemList* problems) { problems_ = problems; }

  KnowledgeSet* knowledgeSet() { return knowledge_.get(); }
  const ZelkaConfig* configuration() const { return config_.get(); }
  const std::u16string& moduleDirectory() const { return moduleDirectory_; }

  // Dictionary files of the last start that were imported but could not be moved into
  // "learned/": some store could not save them, or the move failed. They stay in the vendor
  // directory and are tried again at the next start, taught only to the stores that lack them.
  const std::vector<std::string>& unmovedDictionaries() const { return unmoved_; }

  // Periodic saving (KnowledgeSet::snapshotChanged and markSaved); without a knowledge set
  // there is nothing to snapshot.
  bool snapshotChangedStores(std::vector<StoreSnapshot>& out) const;
  void markStoreSaved(const StoreSnapshot& written);

  // Think forwards.
  int thinkPhase() const;
  int tickThinking();
  int acceptThinking(int level) override;
  int thinkResult() const override;
  int thinkTicks() const;
  int thinkWait() const;
  // Copies the last threaded pass's segments into out; false (out untouched) while a pass
  // runs (phase 0).
  bool takeSegments(std::deque<std::u16string>& out);
  // Starts a threaded pass when none runs (phase not 0) and waits up to timeoutMs; true when
  // it was asked to start. The caller reads the phase afterwards.
  bool startThinking(const std::u16string& sender, const std::u16string& securityLevel,
                     const std::u16string& text, int timeoutMs);
  int thinkNow(const std::u16string& sender, const std::u16string& securityLevel,
               const std::u16string& text, std::deque<std::u16string>& segments) override;

  // Script entry points: split the argument text and associate / unify (see
  // learning/concept_learning.h). The word is meaningful only when true is answered.
  bool associateCall(const std::u16string& argument, std::u16string& word) override;
  bool unifyCall(const std::u16string& argument, std::u16string& word, bool swap) override;

 private:
  std::u16string moduleDirectory_;
  std::unique_ptr<ZelkaConfig> config_;
  std::unique_ptr<KnowledgeSet> knowledge_;   // refers to *config_; destroyed first
  FileTimeMap fileTimes_;
  std::vector<std::string> unmoved_;
  ProblemList* problems_ = nullptr;
};

}  // namespace zelka
