// The knowledge set owns everything the ghost learned: the bind network, the word index, the
// sentence journal and the neuron network, loaded together from the learning directory and
// saved together (destruction saves them in reverse order). It also carries the random
// generator association draws on and the think thread.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "learning/think_thread.h"
#include "stores/bind_network.h"
#include "stores/neuron_network.h"
#include "stores/sentence_journal.h"
#include "stores/word_index.h"
#include "util/mt19937.h"
#include "util/problem_list.h"

namespace zelka {

class ZelkaConfig;

class KnowledgeSet {
 public:
  KnowledgeSet();    // generator seeded from the clock; think phase 1, think wait 5
  ~KnowledgeSet();   // stops thinking, then destroys (and so saves) neuron, journal, index, bind

  // Creates the learning directory (module directory + the configured "learning" value, glued
  // without a separator) and loads the four stores from it, all of them even when one fails.
  // True when all four loaded; only then is the configured think wait taken (otherwise 5).
  // A store that does not load, or whose broken file was kept aside for a fresh one, is
  // reported to `problems` (named as the author names it: "_learning/bind.xml").
  bool load(const std::u16string& moduleDirectory, const ZelkaConfig* config,
            ProblemList* problems = nullptr);
  bool save();   // every store to its file; true when all four were written
  // The save of the end of a session: stops thinking, writes every loaded store (neuron
  // network, journal, index, bind network, the order of destruction) and reports each that
  // cannot be written as critical: what was learned in it this session is lost. The stores
  // are closed afterwards, so destruction writes nothing more. True when all were written.
  bool saveAndClose(ProblemList* problems);
  std::int32_t randomUpTo(std::uint32_t n);   // 0 for n = 0, else 1..n

  BindNetworkStore& bindNetwork() { return bind_; }
  WordIndexStore& wordIndex() { return index_; }
  SentenceJournalStore& sentenceJournal() { return journal_; }
  NeuronNetwork& neuronNetwork() { return neurons_; }
  ThinkThread& thinking() { return think_; }
  const std::u16string& learningDirectory() const { return learningDirectory_; }

 private:
  const ZelkaConfig* config_ = nullptr;
  BindNetworkStore bind_;
  WordIndexStore index_;
  SentenceJournalStore journal_;
  NeuronNetwork neurons_;
  Mt19937 random_;
  ThinkThread think_;   // declared after the stores: stopped and joined before any is saved
  std::u16string learningDirectory_;
  std::string learningName_;   // the configured "learning" value, narrow, for the reports
};

}  // namespace zelka
