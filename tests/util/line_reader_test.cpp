#include "util/line_reader.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/temp_dir.h"

namespace zelka {
namespace {

std::vector<std::string> readAll(LineReader& reader) {
  std::vector<std::string> pieces;
  std::string piece;
  while (reader.readLine(piece)) pieces.push_back(piece);
  EXPECT_TRUE(piece.empty());
  return pieces;
}

std::vector<std::string> readText(const std::string& text, std::size_t bufferSize) {
  LineReader reader = LineReader::fromText(text, bufferSize);
  return readAll(reader);
}

TEST(LineReader, ReadsPiecesLikeFgetsInTextMode) {
  struct Case {
    std::string text;
    std::size_t buffer;
    std::vector<std::string> pieces;
  };
  const Case cases[] = {
      {"a\nbc\n", 1024, {"a\n", "bc\n"}},
      {"a\r\nbc\r\n", 1024, {"a\n", "bc\n"}},        // CR LF reads as LF
      {"a\rb\r\r\n", 1024, {"a\rb\r\n"}},            // only a CR before LF goes
      {"last", 1024, {"last"}},                      // no final line feed
      {"\n\n", 1024, {"\n", "\n"}},
      {"abcdefg\n", 4, {"abc", "def", "g\n"}},       // at most size - 1 bytes per read
      {"abc\n", 4, {"abc", "\n"}},
      {"ab\r\ncd", 4, {"ab\n", "cd"}},               // a dropped CR does not count
      {"abc\r\n", 4, {"abc", "\n"}},                 // CR LF split across reads
      {std::string("a\0b\n", 4), 1024, {std::string("a\0b\n", 4)}},
      {"", 1024, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(readText(c.text, c.buffer), c.pieces) << c.text;
}

TEST(LineReader, FileAndTextReadIdenticallyAcrossChunkBoundaries) {
  // Lines of many lengths with CR LF ends, so that CR and LF fall on every chunk boundary.
  std::string text;
  for (int i = 0; i < 3000; ++i) text += std::string(static_cast<std::size_t>(i % 97), 'x') + "\r\n";
  text += std::string(5000, 'y');
  testing::TempDir dir;
  std::string path = dir.write("lines.txt", text);
  for (std::size_t buffer : {2u, 1024u, 2048u}) {
    LineReader file(path, buffer);
    ASSERT_TRUE(file.isOpen());
    std::vector<std::string> fromFile = readAll(file);
    EXPECT_EQ(fromFile, readText(text, buffer));
    std::string joined;
    for (const std::string& piece : fromFile) {
      EXPECT_LE(piece.size(), buffer - 1);
      joined += piece;
    }
    std::string expected;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) expected += text[i];
    }
    EXPECT_EQ(joined, expected);
  }
}

TEST(LineReader, MissingFilesAndDirectoriesDoNotOpen) {
  testing::TempDir dir;
  LineReader missing(dir.file("none"), 1024);
  EXPECT_FALSE(missing.isOpen());
  std::string piece = "x";
  EXPECT_FALSE(missing.readLine(piece));
  EXPECT_TRUE(piece.empty());
  LineReader directory(dir.path().string(), 1024);
  EXPECT_FALSE(directory.isOpen());
}

}  // namespace
}  // namespace zelka
