#include "module_problems.h"

#include "host_protocol.h"
#include "terminal_text.h"

namespace zelka::host {

namespace {

// More than the module ever keeps: a module that never says "none left" cannot hang the host.
constexpr int kMostProblems = 10000;

}  // namespace

std::string problemsRequest() {
  return "GET Problems SHIORI/2.0\r\nSender: " + std::string(kHostSender) +
         "\r\nCharset: Shift_JIS\r\n\r\n";
}

std::vector<ModuleProblem> takeProblems(
    const std::function<std::optional<std::string>(const std::string&)>& send) {
  std::vector<ModuleProblem> problems;
  const std::string request = problemsRequest();
  for (int n = 0; n < kMostProblems; ++n) {
    std::optional<std::string> text = send(request);
    if (!text) break;
    const HostResponse response = parseResponse(*text);
    std::optional<std::string> value = response.header("String");
    if (response.code != 200 || !value) break;
    const std::string display = shiftJisToDisplay(*value);
    ModuleProblem problem;
    const std::size_t first = display.find('\t');
    const std::size_t second =
        first == std::string::npos ? std::string::npos : display.find('\t', first + 1);
    if (second == std::string::npos) {
      problem.severity = "error";
      problem.message = display;
    } else {
      problem.severity = display.substr(0, first);
      problem.where = display.substr(first + 1, second - first - 1);
      problem.message = display.substr(second + 1);
    }
    problems.push_back(std::move(problem));
  }
  return problems;
}

std::string problemLine(const ModuleProblem& problem) {
  std::string line = problem.severity + ": ";
  if (!problem.where.empty()) line += problem.where + ": ";
  return line + problem.message;
}

int printProblems(const std::vector<ModuleProblem>& problems, std::ostream& out,
                  const std::string& prefix) {
  int critical = 0;
  for (const ModuleProblem& problem : problems) {
    out << prefix << problemLine(problem) << "\n";
    if (problem.critical()) ++critical;
  }
  out.flush();
  return critical;
}

}  // namespace zelka::host
