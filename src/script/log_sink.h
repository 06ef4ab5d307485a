// Where the script engine writes its working (the elements it expands, the formulas it
// evaluates, the talk it selects) when the run level asks for it. The engine checks the run
// level itself before writing; the sink only writes. The protocol front's diagnostic log is
// the sink of a running module; tests hand in one that collects the text.
#pragma once

#include <string_view>

namespace zelka {

class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void write(std::string_view text) = 0;         // narrow text as it is
  virtual void writeWide(std::u16string_view text) = 0;  // converted to Shift_JIS
  void newline() { write("\n"); }
};

}  // namespace zelka
