// zelka-host check: reports what loading a ghost would read, without changing anything on
// disk. The configuration with every default filled in (and which values are defaults), each
// knowledge file read or rejected with the reason, entries per token, blocks left unclosed,
// lines that are not Shift_JIS, the dictionaries waiting for import and the size of the
// learned stores.
#pragma once

#include <ostream>
#include <string>

namespace zelka::host {

// Writes the report to `out`. Answers 0 when nothing is wrong, 1 when a problem was found
// (a load that would fail, a file rejected or partly lost).
int checkGhost(const std::string& ghostDirectory, std::ostream& out);

}  // namespace zelka::host
