// zelka-host check: a linter for a ghost directory. It reads the ghost with the module's own
// readers, changing nothing on disk, and reports
//   - what a load reads: the configuration with its defaults marked, each knowledge file with
//     its blocks and entries, the entries per token, the dictionaries waiting for import and
//     the size of the learned stores (left out with `brief`);
//   - its findings, one a line, as "file:line[:column]: error|warning: message" with the
//     file relative to the ghost directory (see lint_findings.h), then a summary line.
// Errors are what a load reads differently from what is written; warnings are what it reads
// as written but most likely is not meant.
#pragma once

#include <ostream>
#include <string>

namespace zelka::host {

struct CheckOptions {
  bool brief = false;   // findings and the summary only
  bool strict = false;  // warnings fail the check too
};

// Writes the report to `out`. Answers 1 when an error was found (or, with `strict`, a
// warning), 0 otherwise.
int checkGhost(const std::string& ghostDirectory, std::ostream& out, CheckOptions options = {});

}  // namespace zelka::host
