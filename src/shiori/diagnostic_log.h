// The diagnostic log zelka.log. The writer never looks at the run level: every caller checks
// it before writing. The first write opens (creates or truncates) the file and puts the
// opening entry first; destruction writes the closing entry. Line feeds are written as CR LF,
// as the Windows C runtime's text mode writes them, on every platform.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "script/log_sink.h"

namespace zelka {

class DiagnosticLog : public LogSink {
 public:
  DiagnosticLog() = default;
  ~DiagnosticLog() override;
  DiagnosticLog(const DiagnosticLog&) = delete;
  DiagnosticLog& operator=(const DiagnosticLog&) = delete;

  // Opens the named file (empty: "zelka.log" in the current directory), truncating it, and
  // writes the opening entry. -1 on failure, else 0.
  int open(const std::string& fileName = std::string());
  void write(std::string_view text) override;         // narrow text as it is
  void writeWide(std::u16string_view text) override;  // converted to Shift_JIS, stops at the
                                                      // first character that does not convert
  void timeStamp();                           // "[" + asctime without line feed + "]"
  void close();                               // closing entry, then close
  bool isOpen() const { return file_ != nullptr; }

 private:
  bool ensureOpen();
  std::FILE* file_ = nullptr;
  int lastResult_ = 0;
};

}  // namespace zelka
