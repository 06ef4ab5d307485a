// Reads a text file the way fgets reads a file opened in text mode: each read returns at
// most bufferSize - 1 bytes, stopping after a line feed, which stays in the piece. A longer
// line comes back in several pieces. A carriage return directly before a line feed is
// dropped on every platform, so files with CR LF and LF line ends read identically. Any
// other byte, a zero byte included, is returned as it is.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace zelka {

class LineReader {
 public:
  // Reads a file; isOpen() is false when it cannot be opened (or is a directory).
  LineReader(const std::string& path, std::size_t bufferSize);
  // Reads text held in memory, with the same rules.
  static LineReader fromText(std::string text, std::size_t bufferSize);

  LineReader(LineReader&&) noexcept;
  LineReader& operator=(LineReader&&) noexcept;
  ~LineReader();

  bool isOpen() const { return open_; }

  // The next piece into `piece` (replaced); false at the end of the input or on a read
  // error, with `piece` empty.
  bool readLine(std::string& piece);

 private:
  LineReader() = default;
  bool fill();  // refills chunk_; false when no more bytes
  int peek();   // next byte or -1

  struct FileCloser {
    void operator()(std::FILE* file) const;
  };
  std::unique_ptr<std::FILE, FileCloser> file_;
  std::string chunk_;
  std::size_t position_ = 0;
  std::size_t limit_ = 1;  // bytes per piece: bufferSize - 1, at least 1
  bool open_ = false;
  bool ended_ = false;
};

}  // namespace zelka
