#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "platform/path_text.h"
#include "support/temp_dir.h"

namespace zelka {
namespace {

using testing::TempDir;

std::vector<std::string> namesIn(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

void setTime(const std::string& path, std::int64_t seconds) {
  utimbuf times{static_cast<time_t>(seconds), static_cast<time_t>(seconds)};
  ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

TEST(FileSystem, ListDirectoryMatchesPatternsCaseInsensitively) {
  TempDir dir;
  dir.write("a.tlk", "1");
  dir.write("B.TLK", "2");
  dir.write("c.txt", "3");
  dir.write("d.tlkx", "4");
  dir.write("tlk", "5");
  ASSERT_TRUE(makeDirectory(dir.file("sub.tlk")));
  setTime(dir.file("a.tlk"), 1700000000);

  struct Case {
    const char* pattern;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"*.tlk", {"B.TLK", "a.tlk", "sub.tlk"}},
      {"*.TlK", {"B.TLK", "a.tlk", "sub.tlk"}},
      {"*", {"B.TLK", "a.tlk", "c.txt", "d.tlkx", "sub.tlk", "tlk"}},
      {"*.*", {"B.TLK", "a.tlk", "c.txt", "d.tlkx", "sub.tlk", "tlk"}},
      {"*.mem", {}},
  };
  for (const Case& c : cases) {
    auto entries = listDirectory(dir.path().string(), c.pattern);
    ASSERT_TRUE(entries.has_value()) << c.pattern;
    std::vector<std::string> names;
    for (const auto& e : *entries) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.names) << c.pattern;
  }

  auto entries = listDirectory(dir.directory(), "*.tlk");
  ASSERT_TRUE(entries.has_value());
  for (const auto& e : *entries) {
    EXPECT_EQ(e.isDirectory, e.name == "sub.tlk");
    if (e.name == "a.tlk") {
      EXPECT_EQ(e.lastWriteTime, 1700000000);
    }
  }
  EXPECT_FALSE(listDirectory(dir.file("missing"), "*").has_value());
}

TEST(FileSystem, UtfEightNamesAreListedInTheirShiftJisOrder) {
  // Fullwidth A sorts before hiragana A in Shift_JIS (0x8260 < 0x82A0) but after it in UTF-8
  // (EF BC A1 > E3 81 82); an emoji has no Shift_JIS form and sorts as '?'.
  const std::string fullwidthA = "\xef\xbc\xa1.tlk";
  const std::string hiraganaA = "\xe3\x81\x82.tlk";
  const std::string smile = "\xf0\x9f\x98\x80.tlk";
  TempDir dir;
  for (const std::string& name : {hiraganaA, fullwidthA, smile, std::string("b.tlk")}) {
    dir.write(name, "x");
  }
  setPathEncoding(PathEncoding::kUtf8);
  auto entries = listDirectory(dir.directory(), "*.tlk");
  setPathEncoding(PathEncoding::kShiftJis);
  ASSERT_TRUE(entries.has_value());
  std::vector<std::string> names;
  for (const DirectoryEntry& entry : *entries) names.push_back(entry.name);
  EXPECT_EQ(names, (std::vector<std::string>{smile, "b.tlk", fullwidthA, hiraganaA}));
}

TEST(FileSystem, MoveFileNeverOverwrites) {
  TempDir dir;
  std::string a = dir.write("a", "first");
  std::string b = dir.write("b", "second");
  EXPECT_FALSE(moveFile(a, b));
  EXPECT_EQ(readFile(a).value_or(""), "first");
  EXPECT_EQ(readFile(b).value_or(""), "second");
  EXPECT_TRUE(moveFile(a, dir.file("c")));
  EXPECT_FALSE(fileExists(a));
  EXPECT_EQ(readFile(dir.file("c")).value_or(""), "first");
  EXPECT_FALSE(moveFile(dir.file("missing"), dir.file("d")));
}

TEST(FileSystem, SmallOperationsReportFailure) {
  TempDir dir;
  EXPECT_TRUE(makeDirectory(dir.file("sub")));
  EXPECT_FALSE(makeDirectory(dir.file("sub")));            // exists
  EXPECT_FALSE(makeDirectory(dir.file("no/such/parent")));
  EXPECT_TRUE(fileExists(dir.file("sub")));
  EXPECT_FALSE(readFile(dir.file("missing")).has_value());
  EXPECT_FALSE(readFile(dir.file("sub")).has_value());     // a directory is not a file
  std::string f = dir.write("f", std::string("a\0b", 3));
  EXPECT_EQ(readFile(f).value_or(""), std::string("a\0b", 3));
  EXPECT_TRUE(deleteFile(f));
  EXPECT_FALSE(deleteFile(f));
  EXPECT_FALSE(deleteFile(dir.file("sub")));
}

TEST(FileSystem, ReplaceFileAtomicallyWritesNewContentAndLeavesNoTemporaryFile) {
  TempDir dir;
  std::string target = dir.file("store.xml");
  ASSERT_TRUE(replaceFileAtomically(target, "one"));
  EXPECT_EQ(readFile(target).value_or(""), "one");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  std::string big(3 * 1024 * 1024, 'x');
  ASSERT_TRUE(replaceFileAtomically(target, big));
  EXPECT_EQ(readFile(target).value_or(""), big);
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(namesIn(dir.path().string()), std::vector<std::string>{"store.xml"});
}

TEST(FileSystem, ReplaceFileAtomicallyFailureLeavesTargetAndNoTemporaryFile) {
  TempDir dir;
  // The target is a directory: the final rename fails.
  ASSERT_TRUE(makeDirectory(dir.file("target")));
  std::string inside = dir.write("target/keep", "kept");
  EXPECT_FALSE(replaceFileAtomically(dir.file("target"), "new"));
  EXPECT_EQ(readFile(inside).value_or(""), "kept");
  EXPECT_EQ(namesIn(dir.path().string()), std::vector<std::string>{"target"});
  // The directory does not exist: nothing is created.
  EXPECT_FALSE(replaceFileAtomically(dir.file("none/file"), "new"));
  EXPECT_EQ(namesIn(dir.path().string()), std::vector<std::string>{"target"});
  EXPECT_STRNE(kTemporarySuffix, "");
}

TEST(FileSystem, MoveAsideUsesATimestampAndACounterWhenTaken) {
  TempDir dir;
  std::string store = dir.write("bind.xml", "broken 1");
  auto first = moveAside(store);
  ASSERT_TRUE(first.has_value());
  EXPECT_TRUE(std::regex_match(*first, std::regex(".*/bind\\.xml\\.broken-\\d{8}T\\d{6}")))
      << *first;
  EXPECT_FALSE(fileExists(store));
  EXPECT_EQ(readFile(*first).value_or(""), "broken 1");

  // The same second again (a name already taken): a counter keeps both files.
  std::string taken = store + first->substr(store.size());
  dir.write("bind.xml", "broken 2");
  std::optional<std::string> second;
  for (int i = 0; i < 3 && !second; ++i) {
    second = moveAside(store);
  }
  ASSERT_TRUE(second.has_value());
  EXPECT_NE(*second, *first);
  EXPECT_EQ(readFile(*first).value_or(""), "broken 1");
  EXPECT_EQ(readFile(*second).value_or(""), "broken 2");
  if (second->compare(0, taken.size(), taken) == 0) {
    EXPECT_EQ(*second, taken + "-1");
  }

  EXPECT_FALSE(moveAside(dir.file("missing")).has_value());
}

}  // namespace
}  // namespace zelka
