// The findings of zelka-host check, each written as
//   file:line[:column]: error|warning: message
// so that editors can jump to it. The file is relative to the ghost directory (as an editor
// opened there names it); line 0 means the finding concerns the whole file or directory and
// is written "file: error: message". An error is something a load reads differently from
// what the author wrote (text lost or moved, a value passed over, a file refused); a warning
// is something a load reads as written but that is most likely not meant.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace zelka::host {

enum class Severity { kWarning, kError };

struct Finding {
  std::string file;
  std::size_t line = 0;
  std::size_t column = 0;  // 0: not given
  Severity severity = Severity::kError;
  std::string message;
};

std::string formatFinding(const Finding& finding);

class Findings {
 public:
  void error(std::string file, std::size_t line, std::string message, std::size_t column = 0);
  void warning(std::string file, std::size_t line, std::string message, std::size_t column = 0);
  void add(Finding finding);

  std::size_t errors() const { return errors_; }
  std::size_t warnings() const { return warnings_; }
  const std::vector<Finding>& all() const { return findings_; }

  // Files in the order they were first named, each file's findings by line and column (in
  // the order found among equals).
  void print(std::ostream& out) const;

 private:
  std::vector<Finding> findings_;
  std::vector<std::string> fileOrder_;
  std::size_t errors_ = 0;
  std::size_t warnings_ = 0;
};

}  // namespace zelka::host
