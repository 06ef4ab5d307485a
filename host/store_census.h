// Counts what a ghost has learned by reading the files of its learning directory without
// changing them: Bind nodes of bind.xml, words and aliases of index.xml, entries of
// journal.xml, neurons and synapses of neuron.xml, variables of reflex.txt. A file that is
// missing or does not parse is reported as such (the module would create or set it aside).
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace zelka::host {

enum class StoreState { kMissing, kUnreadable, kBroken, kRead };

struct StoreCount {
  StoreState state = StoreState::kMissing;
  std::size_t items = 0;   // Bind nodes, words, journal entries, neurons or variables
  std::size_t links = 0;   // index aliases, neuron synapses
};

struct LearnedStores {
  StoreCount bind, index, journal, neurons, reflex;
};

// learningDirectory ends with its separator.
LearnedStores countLearnedStores(const std::string& learningDirectory);

// One line per store, e.g. "bind.xml: 120 Bind nodes", each indented by `indent`.
std::string describeStores(const LearnedStores& stores, const std::string& indent);
// A table of the counts at several moments, one column per moment, e.g.
//                 before load  after load  after unload
//   Bind nodes              0         190           214
std::string storeTable(const std::vector<std::pair<std::string, LearnedStores>>& columns,
                       const std::string& indent);

}  // namespace zelka::host
