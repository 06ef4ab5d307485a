// The independent XML reader the tests hold the module's files against: xmllint, run as a
// command.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace zelka::testing {

struct CommandResult {
  int status = -1;
  std::string output;
};

// Runs a shell command and captures its standard output.
inline CommandResult runCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  result.status = ::pclose(pipe);
  return result;
}

// Single-quotes a shell argument.
inline std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// True when xmllint parses the file as well-formed XML.
inline bool wellFormed(const std::filesystem::path& file) {
  return runCommand("xmllint --noout " + shellQuote(file.string()) + " 2>/dev/null").status == 0;
}

// The value of an XPath expression as xmllint reads the file (UTF-8), trailing line breaks
// removed; "<xmllint failed>" when xmllint rejects the file or the expression selects nothing
// (string() and count() always select something).
inline std::string xpath(const std::filesystem::path& file, const std::string& expression) {
  CommandResult run = runCommand("xmllint --xpath " + shellQuote(expression) + " " +
                                 shellQuote(file.string()) + " 2>/dev/null");
  std::string& output = run.output;
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  if (run.status != 0) return "<xmllint failed>";
  return output;
}

}  // namespace zelka::testing
