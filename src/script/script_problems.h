// Tells the ghost's author about script errors. The talk keeps its error report unchanged;
// in addition every element that yields the report becomes a problem in the session's list:
// where it was written ("<vendor dir><file>:<line>", the line of the element within the
// entry's script, or the entry's block for a conditional), what ran it (the token, or a
// description for a script without an entry such as a GET Word request), the element's text
// and an English gloss of the report.
//
// An event that fails every second must not flood the list or the log: each distinct place
// and element is reported once per session, and its repeats are counted; reportRepeats()
// sums them up at the end of the session. Past kMaxDistinct distinct errors one more problem
// says that the rest go uncounted.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "script/knowledge_base.h"
#include "script/script_parser.h"
#include "util/problem_list.h"

namespace zelka {

// What runs a script, for the reports.
struct ScriptOrigin {
  const KnowledgeEntry* entry = nullptr;  // the entry whose script (or conditional) runs
  bool conditional = false;
  std::string description;                // without an entry: what runs the script
};

class ScriptProblems {
 public:
  static constexpr std::size_t kMaxDistinct = 64;

  // The list to report into (null: nothing is reported) and the vendor directory as the
  // author names it ("vender/"), put before the knowledge file's name.
  void setList(ProblemList* list) { list_ = list; }
  void setSourceDirectory(std::string directory) { sourceDirectory_ = std::move(directory); }

  // An element gave the error report of `code` (1 or 2); `exhausted` when it was not expanded
  // because the nesting bound or the work budget ran out.
  void elementFailed(const ScriptOrigin& origin, const ScriptElement& element, int code,
                     bool exhausted);
  // One warning for each reported error that happened again, with its count; then forgets.
  void reportRepeats();
  // Forgets what was reported (a new session).
  void forget();

 private:
  struct Seen {
    std::string where;
    std::string what;   // the origin and the element, as the first report names them
    std::size_t repeats = 0;
  };

  ProblemList* list_ = nullptr;
  std::string sourceDirectory_;
  std::map<std::string, std::size_t> index_;   // where + element + code -> seen_
  std::vector<Seen> seen_;
  bool overflowTold_ = false;
};

// The 1-based line of the file where the element starts: the script's first line plus the
// line feeds before the element (the parser drops line feeds, so the element's text is looked
// for in the script without them). The first line when the element is not found in the
// script (it came from a rescanned result) or the line is not known (0).
std::size_t elementLine(std::string_view script, std::size_t firstLine,
                        std::u16string_view elementText);

}  // namespace zelka
