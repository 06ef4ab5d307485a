#include "lint_findings.h"

#include <algorithm>

namespace zelka::host {

std::string formatFinding(const Finding& finding) {
  std::string text = finding.file;
  if (finding.line > 0) {
    text += ":" + std::to_string(finding.line);
    if (finding.column > 0) text += ":" + std::to_string(finding.column);
  }
  text += finding.severity == Severity::kError ? ": error: " : ": warning: ";
  text += finding.message;
  return text;
}

void Findings::error(std::string file, std::size_t line, std::string message,
                     std::size_t column) {
  add(Finding{std::move(file), line, column, Severity::kError, std::move(message)});
}

void Findings::warning(std::string file, std::size_t line, std::string message,
                       std::size_t column) {
  add(Finding{std::move(file), line, column, Severity::kWarning, std::move(message)});
}

void Findings::add(Finding finding) {
  if (std::find(fileOrder_.begin(), fileOrder_.end(), finding.file) == fileOrder_.end()) {
    fileOrder_.push_back(finding.file);
  }
  ++(finding.severity == Severity::kError ? errors_ : warnings_);
  findings_.push_back(std::move(finding));
}

void Findings::print(std::ostream& out) const {
  std::vector<const Finding*> order;
  for (const Finding& finding : findings_) order.push_back(&finding);
  auto rank = [&](const Finding* f) {
    return std::find(fileOrder_.begin(), fileOrder_.end(), f->file) - fileOrder_.begin();
  };
  std::stable_sort(order.begin(), order.end(), [&](const Finding* a, const Finding* b) {
    const auto ra = rank(a), rb = rank(b);
    if (ra != rb) return ra < rb;
    if (a->line != b->line) return a->line < b->line;
    return a->column < b->column;
  });
  for (const Finding* finding : order) out << formatFinding(*finding) << "\n";
}

}  // namespace zelka::host
