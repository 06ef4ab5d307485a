// Line editing for the interactive session (libedit): the arrow keys, Emacs-style editing
// and a history of the lines typed, kept across sessions in a file (at most kHistoryLines).
#pragma once

#include <optional>
#include <string>

namespace zelka::host {

class LineEditor {
 public:
  static constexpr int kHistoryLines = 1000;

  // Reads the history from the file (none when the path is empty or the file is missing).
  explicit LineEditor(std::string historyFile);
  // Writes the history back.
  ~LineEditor();
  LineEditor(const LineEditor&) = delete;
  LineEditor& operator=(const LineEditor&) = delete;

  // Shows the prompt and reads one line (without its line end); nullopt at the end of the
  // input or on an interrupt. Lines that are not blank and differ from the one before go into
  // the history.
  std::optional<std::string> readLine(const std::string& prompt);

 private:
  std::string historyFile_;
  std::string last_;
};

// The history file of the interactive session: ~/.zelka_history, or empty without a home.
std::string defaultHistoryFile();

}  // namespace zelka::host
