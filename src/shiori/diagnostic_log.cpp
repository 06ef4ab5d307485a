#include "shiori/diagnostic_log.h"

#include <algorithm>
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
  writeRaw("[" + asctimeNow() + "]debug_start\n");
  return 0;
}

void DiagnosticLog::flush() {
  if (file_ != nullptr) lastResult_ = std::fflush(file_);
}

void DiagnosticLog::beginRequest() {
  used_ = 0;
  cut_ = false;
}

bool DiagnosticLog::ensureOpen() {
  if (file_ != nullptr) return true;
  return open() == 0;
}

void DiagnosticLog::write(std::string_view text) {
  if (!ensureOpen()) return;
  // The text ends at its first zero byte.
  if (auto zero = text.find('\0'); zero != std::string_view::npos) text = text.substr(0, zero);
  if (cut_) return;
  const std::size_t stored =
      text.size() + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  if (stored > allowance_ - std::min(used_, allowance_)) {
    cut_ = true;
    writeRaw("\n[the rest of this request's log entries were cut: over " +
             std::to_string(allowance_) + " bytes]\n");
    return;
  }
  used_ += writeRaw(text);
}

void DiagnosticLog::writeEntry(std::string_view text) {
  if (!ensureOpen()) return;
  if (auto zero = text.find('\0'); zero != std::string_view::npos) text = text.substr(0, zero);
  writeRaw(text);
}

std::size_t DiagnosticLog::writeRaw(std::string_view text) {
  // Every line feed is written as CR LF.
  std::size_t stored = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t lf = text.find('\n', start);
    std::size_t end = lf == std::string_view::npos ? text.size() : lf;
    if (end > start) {
      std::size_t written = std::fwrite(text.data() + start, 1, end - start, file_);
      lastResult_ = static_cast<int>(written);
      stored += written;
    }
    if (lf == std::string_view::npos) break;
    const std::size_t written = std::fwrite("\r\n", 1, 2, file_);
    lastResult_ = static_cast<int>(written);
    stored += written;
    start = lf + 1;
  }
  return stored;
}

void DiagnosticLog::writeWide(std::u16string_view text) {
  if (!ensureOpen() || cut_) return;
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
  writeRaw("[" + asctimeNow() + "]debug_end  \n");
  lastResult_ = std::fclose(file_);
  file_ = nullptr;
}

}  // namespace zelka
