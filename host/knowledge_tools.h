// Author tools for knowledge files: scramble turns a plain ("tlk") file into the
// complemented ("tlc") form the module reads, unscramble turns it back. The two are exact
// inverses for files with LF line ends; CR LF line ends are written as LF (the reader drops
// the CR either way). Both refuse input that is already in the target form, and scramble
// refuses a file the complemented form cannot carry.
#pragma once

#include <ostream>
#include <string>

namespace zelka::host {

// Exit codes: 0 written, 1 refused or failed (the reason on `err`).
int scrambleFile(const std::string& in, const std::string& out, std::ostream& err);
int unscrambleFile(const std::string& in, const std::string& out, std::ostream& err);

}  // namespace zelka::host
