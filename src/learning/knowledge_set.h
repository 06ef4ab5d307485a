// The knowledge set owns everything the ghost learned: the bind network, the word index, the
// sentence journal and the neuron network, loaded together from the learning directory and
// saved together (destruction saves them in reverse order). It also carries the random
// generator association draws on and the think thread.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "learning/think_thread.h"
#include "stores/bind_network.h"
#include "stores/neuron_network.h"
#include "stores/sentence_journal.h"
#include "stores/word_index.h"
#include "util/mt19937.h"
#include "util/problem_list.h"

namespace zelka {

class ZelkaConfig;

// The four stores as bits of a set: the stores a save wrote, the stores that hold a dictionary.
enum KnowledgeStore : unsigned {
  kBindStore = 1u,
  kIndexStore = 2u,
  kJournalStore = 4u,
  kNeuronStore = 8u,
  kAllStores = 15u,
};

// A store edited since its last save, serialised so that its file can be written off the
// calling thread (with replaceFileAtomically, as a save writes it).
struct StoreSnapshot {
  std::string path;          // the store's file, narrow; empty when it has none it can name
  std::string bytes;         // what a save would write; empty when it cannot be written
  int store = 0;             // which of the four, for markSaved
  std::uint64_t edits = 0;   // the store's edit count when it was serialised
};

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
  bool save() { return saveStores() == kAllStores; }   // true when all four were written
  unsigned saveStores();   // every store to its file; answers the ones written
  // The save of the end of a session: stops thinking, writes every loaded store (neuron
  // network, journal, index, bind network, the order of destruction) and reports each that
  // cannot be written as critical: what was learned in it this session is lost. The stores
  // are closed afterwards, so destruction writes nothing more. True when all were written.
  bool saveAndClose(ProblemList* problems);

  // Snapshots of the stores edited since they were loaded or last saved (never of one opened
  // read-only, which refuses every save); false (and nothing touched) while a think pass runs
  // on the bind network. markSaved tells a store that its file now holds the snapshot; a store
  // whose write failed stays edited and is taken again.
  bool snapshotChanged(std::vector<StoreSnapshot>& out) const;
  void markSaved(const StoreSnapshot& written);
  std::int32_t randomUpTo(std::uint32_t n);   // 0 for n = 0, else 1..n
  void seedRandom(std::uint32_t seed) { random_.seed(seed); }

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
