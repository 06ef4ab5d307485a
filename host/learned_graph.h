// zelka-host graph: what a ghost has learned, as a picture. The concept network is drawn
// with Graphviz (laid out by its dot engine, written as SVG): categories as rounded boxes,
// concepts as ellipses, the other words of a concept as plain text beside it, the root word
// as a note; an arrow goes from a category to each member, drawn thicker for a stronger link
// (learned_knowledge.h says what strength is). Labels use the IPAPGothic font (Debian's
// fonts-ipafont-gothic), which has the Japanese characters.
//
// A picture shows a few dozen nodes, so the network is cut to what is near the start: the
// root word's concepts, or without one the top categories with the most members; from there
// the strongest links are followed up and down, level by level and in turns among the nodes
// of a level, to the depth and until the node limit is reached; the other words of the chosen
// concepts fill what the limit leaves, one per concept in turn. Nothing in the ghost is written.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "learned_knowledge.h"

namespace zelka::host {

struct GraphOptions {
  std::u16string root;           // start at this word's concepts; empty: top categories
  std::size_t depth = 3;         // links followed from the start
  std::size_t maxNodes = 80;     // concepts and words drawn, all told
  std::size_t wordsPerConcept = 2;  // other words drawn beside a concept
};

// What the picture shows, chosen from the knowledge (before any drawing).
struct GraphSelection {
  std::vector<std::size_t> concepts;  // indices into the knowledge's concepts, in order chosen
  std::vector<std::pair<std::size_t, std::u16string>> words;  // concept, other word
  std::size_t rootConcepts = 0;  // the first concepts are the start
};

// False with `error` set when the root word is not known.
bool selectGraph(const LearnedKnowledge& knowledge, const GraphOptions& options,
                 GraphSelection& selection, std::string& error);

// Lays the selection out and answers the SVG; false with `error` set when Graphviz fails.
bool renderGraphSvg(const LearnedKnowledge& knowledge, const GraphOptions& options,
                    const GraphSelection& selection, const std::string& title, std::string& svg,
                    std::string& error);

// zelka-host graph GHOST_DIR -o FILE.svg [--root WORD] [--depth N] [--max-nodes N]
// [--words N] (argv[1] is "graph"). Answers the exit status.
int runGraph(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace zelka::host
