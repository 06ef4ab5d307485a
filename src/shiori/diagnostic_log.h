// The diagnostic log zelka.log. The writer never looks at the run level: every caller checks
// it before writing. The first write opens (creates or truncates) the file and puts the
// opening entry first; destruction writes the closing entry. Line feeds are written as CR LF,
// as the Windows C runtime's text mode writes them, on every platform.
//
// What one request may write is bounded: a runaway script at a high run level would otherwise
// fill the disk while the host waits. beginRequest starts a request's allowance; a write that
// does not fit in what is left is dropped, and the first one dropped leaves one line saying
// that the rest of the request's entries were cut. The opening and closing entries, and those
// written with writeEntry, are always written.
//
// Entries are buffered and reach the file at flush, which the server calls once each request,
// load or unload is answered (and close), instead of one system call for every small write.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "script/log_sink.h"

namespace zelka {

class DiagnosticLog : public LogSink {
 public:
  // Bytes (as stored, line ends included) one request may write, by default.
  static constexpr std::size_t kDefaultRequestAllowance = 256 * 1024;

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
  // Writes a whole entry whatever is left of the request's allowance, and without using it:
  // for the problems the author must hear of, which are few (each is told once) and must not
  // be lost behind a runaway script's entries.
  void writeEntry(std::string_view text);
  void close();                               // closing entry, then close
  bool isOpen() const { return file_ != nullptr; }

  // Starts the allowance of a request (or of the load or unload around the requests).
  void beginRequest();
  void setRequestAllowance(std::size_t bytes) { allowance_ = bytes; }
  void flush();

 private:
  bool ensureOpen();
  // Writes without looking at the allowance; answers the bytes stored.
  std::size_t writeRaw(std::string_view text);
  std::FILE* file_ = nullptr;
  int lastResult_ = 0;
  std::size_t allowance_ = kDefaultRequestAllowance;
  std::size_t used_ = 0;   // bytes written since beginRequest
  bool cut_ = false;       // a write of this request was dropped
};

}  // namespace zelka
