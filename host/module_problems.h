// What went wrong in the module that the ghost's author must hear of: a knowledge file or a
// dictionary refused, a store kept aside or not saved, a script error. The module keeps them
// until they are asked for with "GET Problems SHIORI/2.0" (one per answer, 200 with
// "String: <severity> TAB <where> TAB <message>", 204 when none is left), also after unload.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace zelka::host {

struct ModuleProblem {
  std::string severity;  // "warning", "error" or "critical" (something learned was not saved)
  std::string where;     // file and line, as the author names them; may be empty (UTF-8)
  std::string message;   // UTF-8
  bool critical() const { return severity == "critical"; }
};

std::string problemsRequest();

// Asks the module for its problems until none is left.
std::vector<ModuleProblem> takeProblems(
    const std::function<std::optional<std::string>(const std::string&)>& send);

// "<severity>: <where>: <message>" (without the where when there is none).
std::string problemLine(const ModuleProblem& problem);

// Prints each problem on a line of its own after the prefix; answers how many were critical.
int printProblems(const std::vector<ModuleProblem>& problems, std::ostream& out,
                  const std::string& prefix);

}  // namespace zelka::host
