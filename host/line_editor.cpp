#include "line_editor.h"

#include <editline/readline.h>

#include <clocale>
#include <cstdlib>

namespace zelka::host {

LineEditor::LineEditor(std::string historyFile) : historyFile_(std::move(historyFile)) {
  // Multibyte (UTF-8) editing follows the terminal's locale; only the character type is taken,
  // so numbers and messages are untouched.
  std::setlocale(LC_CTYPE, "");
  using_history();
  stifle_history(kHistoryLines);
  if (!historyFile_.empty()) read_history(historyFile_.c_str());
}

LineEditor::~LineEditor() {
  if (!historyFile_.empty()) write_history(historyFile_.c_str());
}

std::optional<std::string> LineEditor::readLine(const std::string& prompt) {
  char* line = readline(prompt.c_str());
  if (line == nullptr) return std::nullopt;
  std::string text(line);
  std::free(line);
  if (text.find_first_not_of(" \t") != std::string::npos && text != last_) {
    add_history(text.c_str());
    last_ = text;
  }
  return text;
}

std::string defaultHistoryFile() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return {};
  std::string path = home;
  if (path.back() != '/') path += '/';
  return path + ".zelka_history";
}

}  // namespace zelka::host
