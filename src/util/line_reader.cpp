// Piecewise text-mode line reading.
#include "util/line_reader.h"

#include <algorithm>

#include "platform/file_system.h"

namespace zelka {
namespace {

constexpr std::size_t kChunkSize = 64 * 1024;

}  // namespace

void LineReader::FileCloser::operator()(std::FILE* file) const {
  if (file) std::fclose(file);
}

LineReader::LineReader(const std::string& path, std::size_t bufferSize)
    : limit_(bufferSize > 1 ? bufferSize - 1 : 1) {
  if (path.empty() || isDirectory(path)) return;
  // Binary mode: the carriage returns are handled here, the same way on every platform.
  file_.reset(openFile(path, "rb"));
  open_ = file_ != nullptr;
}

LineReader LineReader::fromText(std::string text, std::size_t bufferSize) {
  LineReader reader;
  reader.limit_ = bufferSize > 1 ? bufferSize - 1 : 1;
  reader.chunk_ = std::move(text);
  reader.open_ = true;
  reader.ended_ = true;  // nothing beyond the text itself
  return reader;
}

LineReader::LineReader(LineReader&&) noexcept = default;
LineReader& LineReader::operator=(LineReader&&) noexcept = default;
LineReader::~LineReader() = default;

bool LineReader::fill() {
  if (ended_ || !file_) {
    ended_ = true;
    return false;
  }
  chunk_.resize(kChunkSize);
  std::size_t got = std::fread(chunk_.data(), 1, kChunkSize, file_.get());
  chunk_.resize(got);
  position_ = 0;
  if (got == 0) {
    ended_ = true;
    return false;
  }
  return true;
}

int LineReader::peek() {
  if (position_ >= chunk_.size() && !fill()) return -1;
  return static_cast<unsigned char>(chunk_[position_]);
}

bool LineReader::readLine(std::string& piece) {
  piece.clear();
  if (!open_) return false;
  while (piece.size() < limit_) {
    if (position_ >= chunk_.size() && !fill()) break;
    std::size_t wanted = std::min(limit_ - piece.size(), chunk_.size() - position_);
    const char* start = chunk_.data() + position_;
    std::size_t run = 0;
    while (run < wanted && start[run] != '\n' && start[run] != '\r') ++run;
    piece.append(start, run);
    position_ += run;
    if (run == wanted) continue;
    char c = chunk_[position_++];
    if (c == '\n') {
      piece.push_back('\n');
      break;
    }
    // A carriage return is kept unless a line feed follows it.
    if (peek() != '\n') piece.push_back('\r');
  }
  return !piece.empty();
}

}  // namespace zelka
