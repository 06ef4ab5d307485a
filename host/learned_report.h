// zelka-host learned: what a ghost has learned, in words (UTF-8). Categories as a tree with
// their members, the most met concepts with their words and strongest associations, the most
// reinforced expressions of the bind network, the variables of reflex.txt and, against a
// snapshot saved earlier, what changed since. Nothing in the ghost is written.
//
// Snapshot file (written with --save-snapshot, read with --since): UTF-8 text, one record a
// line, fields separated by tabs, in fields a backslash, tab, line feed and carriage return
// written as \\, \t, \n and \r. The first line is "zelka learned snapshot 1"; then
//   word <TAB> WORD <TAB> NEURON-ID ...          every word of index.xml with its neuron ids
//   concept <TAB> NEURON-ID <TAB> WORD ...       every neuron with its expressions
//   link <TAB> FROM-ID <TAB> TO-ID <TAB> DISTANCE  every downward concept link
//   path <TAB> TEXT <TAB> PASSAGES               every path of the bind network
// Lines of another kind are skipped, so later versions can add records.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

#include "learned_knowledge.h"

namespace zelka::host {

struct LearnedReportOptions {
  std::size_t limit = 20;  // entries per list (members of a category, concepts, ...); 0: all
  std::string ghostName = "the ghost";  // UTF-8, for the heading
};

// The report, from the heading to the variables.
void printLearned(const LearnedKnowledge& knowledge, const LearnedReportOptions& options,
                  std::ostream& out);

// Writes the snapshot crash-safely; false with `error` set when it cannot be written.
bool saveLearnedSnapshot(const LearnedKnowledge& knowledge, const std::string& path,
                         std::string& error);
// Prints what changed since the snapshot: new words, new concepts, new and strengthened links
// of the concept network, and strengthened expressions of the bind network. False with
// `error` set when the snapshot cannot be read.
bool printLearnedSince(const LearnedKnowledge& knowledge, const std::string& snapshotPath,
                       const LearnedReportOptions& options, std::ostream& out,
                       std::string& error);

// :learned in a session: the report of what the running ghost's files hold, after a note that
// says when they were saved (the module writes them when it is unloaded, and when it saves on
// its own: what it learned since is not in them yet).
void printSavedLearned(const std::string& learningDirectory, const std::string& ghostName,
                       std::ostream& out);

// zelka-host learned [--limit N] [--since SNAPSHOT] [--save-snapshot FILE] GHOST_DIR
// (argv[1] is "learned"). Answers the exit status.
int runLearned(int argc, char** argv, std::ostream& out, std::ostream& err);

// The learning directory configured for the ghost directory (which ends with '/').
std::string learningDirectoryOfGhost(const std::string& ghostDirectory);

}  // namespace zelka::host
