#include "shiori/diagnostic_log.h"

#include <cstring>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/text_codec.h"

namespace zelka {

namespace {

constexpr const char* kDefaultLogName = "zelka.log";
// File names are copied into a buffer of this size (with its terminating zero).
constexpr std::size_t kNameBufferSize = 260;

}  // namespace

DiagnosticLog::~DiagnosticLog() { close(); }

int DiagnosticLog::open(const std::string& fileName) {
  if (file_ != nullptr) {
    lastResult_ = std::fclose(file_);
    file_ = nullptr;
  }
  std::string name = fileName.empty() ? std::string(kDefaultLogName) : fileName;
  // The name stops at its first zero byte and is cut to what the name buffer holds.
  if (auto zero = name.find('\0'); zero != std::string::npos) name.resize(zero);
  if (name.size() >= kNameBufferSize) name.resize(kNameBufferSize - 1);
  if (name.empty()) name = kDefaultLogName;
  // Binary mode: the line feed translation is done by newline() itself, identically on every
  // platform.
  file_ = openFile(name, "wb");
  if (file_ == nullptr) {
    lastResult_ = -1;
    return -1;
  }
  timeStamp();
  write("debug_start");
  newline();
  return 0;
}

bool DiagnosticLog::ensureOpen() {
  if (file_ != nullptr) return true;
  return open() == 0;
}

void DiagnosticLog::write(std::string_view text) {
  if (!ensureOpen()) return;
  // The text ends at its first zero byte; every line feed is written as CR LF.
  if (auto zero = text.find('\0'); zero != std::string_view::npos) text = text.substr(0, zero);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t lf = text.find('\n', start);
    std::size_t end = lf == std::string_view::npos ? text.size() : lf;
    if (end > start) {
      std::size_t written = std::fwrite(text.data() + start, 1, end - start, file_);
      lastResult_ = static_cast<int>(written);
    }
    if (lf == std::string_view::npos) break;
    lastResult_ = static_cast<int>(std::fwrite("\r\n", 1, 2, file_));
    start = lf + 1;
  }
  std::fflush(file_);
}

void DiagnosticLog::writeWide(std::u16string_view text) {
  if (!ensureOpen()) return;
  write(toNarrow(text));
}

void DiagnosticLog::timeStamp() {
  if (!ensureOpen()) return;
  std::string stamp = "[";
  stamp += asctimeNow();
  stamp += "]";
  write(stamp);
}

void DiagnosticLog::close() {
  if (file_ == nullptr) return;
  timeStamp();
  write("debug_end  ");
  newline();
  lastResult_ = std::fclose(file_);
  file_ = nullptr;
}

}  // namespace zelka
