// The Windows platform layer on its own: UTF-8 path text through the kernel's wide-character
// calls, the directory load and loadu hand over, binary files, crash-safe replacement,
// listings, global memory blocks and clocks.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/host_memory.h"
#include "platform/path_text.h"

namespace zelka {
namespace {

// UTF-8: two kanji (in Shift_JIS the first has a 0x5C trail byte), katakana, a Western name
// and a character beyond the BMP.
const std::string kShow = "\xe8\xa1\xa8\xe7\xa4\xba";
const std::string kGhost = "\xe3\x82\xb4\xe3\x83\xbc\xe3\x82\xb9\xe3\x83\x88";
const std::string kJurgen = "J\xc3\xbcrgen";
const std::string kSmile = "\xf0\x9f\x98\x80";

std::wstring wide(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

// Reads a file through the wide API, independently of the layer under test.
std::string rawRead(const std::string& utf8) {
  std::FILE* file = _wfopen(wide(utf8).c_str(), L"rb");
  if (file == nullptr) return "(missing)";
  std::string bytes;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  std::fclose(file);
  return bytes;
}

std::vector<std::string> names(const std::string& directory, const std::string& pattern) {
  std::vector<std::string> out;
  auto entries = listDirectory(directory, pattern);
  if (!entries) return {"(unreadable)"};
  for (const DirectoryEntry& e : *entries) out.push_back(e.name + (e.isDirectory ? "/" : ""));
  return out;
}

// A fresh directory whose name has Japanese, Western and emoji characters, under the
// temporary directory.
class UnicodeDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    int n = WideCharToMultiByte(CP_UTF8, 0, temp, -1, nullptr, 0, nullptr, nullptr);
    std::string base(static_cast<std::size_t>(n - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, temp, -1, base.data(), n, nullptr, nullptr);
    for (int i = 0; i < 1000 && dir.empty(); ++i) {
      std::string candidate = base + kGhost + kShow + kJurgen + kSmile +
                              std::to_string(GetCurrentProcessId()) + "-" + std::to_string(i);
      if (CreateDirectoryW(wide(candidate).c_str(), nullptr)) dir = candidate + "\\";
    }
    ASSERT_FALSE(dir.empty());
  }
  void TearDown() override {
    if (dir.empty()) return;
    // Two levels are all the tests make.
    if (auto entries = listDirectory(dir, "*")) {
      for (const DirectoryEntry& e : *entries) {
        if (e.isDirectory) {
          if (auto inner = listDirectory(dir + e.name, "*")) {
            for (const DirectoryEntry& f : *inner) DeleteFileW(wide(dir + e.name + "\\" + f.name).c_str());
          }
          RemoveDirectoryW(wide(dir + e.name).c_str());
        } else {
          DeleteFileW(wide(dir + e.name).c_str());
        }
      }
    }
    RemoveDirectoryW(wide(dir).c_str());
  }
  std::string dir;
};

TEST_F(UnicodeDirectory, FilesAreWrittenAndReadByteForByte) {
  const std::string path = dir + kShow + ".xml";
  const std::string content = "line one\nline two\r\nend\x1a\n";
  ASSERT_TRUE(replaceFileAtomically(path, content));
  EXPECT_EQ(rawRead(path), content);
  EXPECT_EQ(readFile(path), content);
  // Replacing leaves no temporary file behind.
  ASSERT_TRUE(replaceFileAtomically(path, "second"));
  EXPECT_EQ(rawRead(path), "second");
  EXPECT_EQ(names(dir, "*"), std::vector<std::string>{kShow + ".xml"});

  // The C runtime's text mode is never used, whatever mode is asked for.
  for (const char* mode : {"w", "wb", "wt"}) {
    std::FILE* file = openFile(dir + "log.txt", mode);
    ASSERT_NE(file, nullptr) << mode;
    std::fputs("a\nb\n", file);
    std::fclose(file);
    EXPECT_EQ(rawRead(dir + "log.txt"), "a\nb\n") << mode;
  }
  std::FILE* file = openFile(dir + "log.txt", "r");
  ASSERT_NE(file, nullptr);
  char buffer[16] = {};
  EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, file), 4u);
  std::fclose(file);
  EXPECT_EQ(readFile(dir + "missing.txt"), std::nullopt);
  EXPECT_EQ(readFile(dir), std::nullopt);  // a directory is not a file
}

TEST_F(UnicodeDirectory, DirectoriesMovesAndDeletes) {
  const std::string sub = dir + kGhost;
  EXPECT_TRUE(makeDirectory(sub));
  EXPECT_FALSE(makeDirectory(sub));  // exists already
  EXPECT_TRUE(isDirectory(sub));
  EXPECT_TRUE(fileExists(sub));
  EXPECT_FALSE(deleteFile(sub));     // not a file

  ASSERT_TRUE(replaceFileAtomically(dir + "a.mem", "a"));
  ASSERT_TRUE(replaceFileAtomically(sub + "\\a.mem", "old"));
  EXPECT_FALSE(moveFile(dir + "a.mem", sub + "\\a.mem"));  // never over an existing file
  EXPECT_TRUE(deleteFile(sub + "\\a.mem"));
  EXPECT_TRUE(moveFile(dir + "a.mem", sub + "\\a.mem"));
  EXPECT_FALSE(fileExists(dir + "a.mem"));
  EXPECT_EQ(rawRead(sub + "\\a.mem"), "a");
  EXPECT_FALSE(isDirectory(sub + "\\a.mem"));

  ASSERT_TRUE(replaceFileAtomically(dir + "bind.xml", "<broken"));
  auto first = moveAside(dir + "bind.xml");
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->rfind(dir + "bind.xml.broken-", 0), 0u) << *first;
  EXPECT_EQ(rawRead(*first), "<broken");
  ASSERT_TRUE(replaceFileAtomically(dir + "bind.xml", "<again"));
  auto second = moveAside(dir + "bind.xml");
  ASSERT_TRUE(second.has_value());
  EXPECT_NE(*first, *second);  // a taken name is never overwritten
  EXPECT_EQ(rawRead(*first), "<broken");
  EXPECT_EQ(moveAside(dir + "bind.xml"), std::nullopt);
}

TEST_F(UnicodeDirectory, PathsThatDoNotConvertNameNoFile) {
  // 0xC3 0x79 is no UTF-8 sequence; a conversion cut short there would name "x".
  const std::string bad = dir + "x\xc3y";
  EXPECT_FALSE(makeDirectory(bad));
  EXPECT_FALSE(replaceFileAtomically(bad, "content"));
  EXPECT_EQ(openFile(bad, "wb"), nullptr);
  EXPECT_FALSE(fileExists(dir + "x"));
  EXPECT_EQ(names(dir, "*"), std::vector<std::string>{});
  EXPECT_EQ(listDirectory(bad, "*"), std::nullopt);
  EXPECT_EQ(listDirectory(dir + "missing", "*"), std::nullopt);
  EXPECT_FALSE(fileExists(""));
}

TEST_F(UnicodeDirectory, ListingsMatchNamesLikePosixAndComeSorted) {
  for (const std::string& name :
       std::vector<std::string>{"b.tlk", "A.TLK", "c.tlkx", "d.mem", kShow + ".tlk"}) {
    ASSERT_TRUE(replaceFileAtomically(dir + name, "x")) << name;
  }
  ASSERT_TRUE(makeDirectory(dir + "learned"));
  // Names without a Shift_JIS form are listed too (the module names every file by its
  // Unicode name); they sort by their Shift_JIS form with '?' for what it lacks.
  for (const wchar_t* name : {L"caf\u00e9.tlk", L"\U0001F600.tlk"}) {
    std::FILE* foreign = _wfopen((wide(dir) + name).c_str(), L"wb");
    ASSERT_NE(foreign, nullptr);
    std::fclose(foreign);
  }

  EXPECT_EQ(names(dir, "*.tlk"), (std::vector<std::string>{kSmile + ".tlk", "A.TLK", "b.tlk",
                                                            "caf\xc3\xa9.tlk", kShow + ".tlk"}));
  EXPECT_EQ(names(dir, "*.mem"), std::vector<std::string>{"d.mem"});
  auto entries = listDirectory(dir, "d.mem");
  ASSERT_TRUE(entries && entries->size() == 1);
  std::int64_t now = secondsSinceEpoch();
  EXPECT_LE((*entries)[0].lastWriteTime, now + 2);
  EXPECT_GE((*entries)[0].lastWriteTime, now - 24 * 3600);
}

TEST(PathText, HostDirectoryIsReadInTheAnsiCodePageOrUtf8) {
  // build-windows.sh names the code page it ran Wine with.
  if (const char* expected = std::getenv("ZELKA_ANSI_CODE_PAGE")) {
    ASSERT_EQ(GetACP(), std::strtoul(expected, nullptr, 10));
  }
  const auto load = [](std::string_view bytes) {
    return pathFromHostDirectory(bytes, HostDirectoryForm::kSystemCodePage);
  };
  switch (GetACP()) {
    case 1252:  // 0xFC is u with diaeresis
      EXPECT_EQ(load("C:\\Users\\J\xfcrgen\\"), "C:\\Users\\" + kJurgen + "\\");
      break;
    case 932:   // 0x95 0x5C is a kanji, not a separator; 0x82 0x20 is no character
      EXPECT_EQ(load("C:\\\x95\x5c\x8e\xa6\\"), "C:\\" + kShow + "\\");
      EXPECT_EQ(load("C:\\\x82\x20\\"), std::nullopt);
      break;
    default:
      ADD_FAILURE() << "no case for the ANSI code page " << GetACP();
  }
  const std::string utf8 = "C:\\" + kJurgen + kShow + kSmile + "\\";
  EXPECT_EQ(pathFromHostDirectory(utf8, HostDirectoryForm::kUtf8), utf8);
  EXPECT_EQ(pathFromHostDirectory("C:\\J\xfcrgen\\", HostDirectoryForm::kUtf8), std::nullopt);
  EXPECT_EQ(pathEncoding(), PathEncoding::kUtf8);
}

TEST(HostMemory, GlobalBlocksAreLockedCopiedAndReleased) {
  const char text[] = {'G', 'E', 'T', '\0', 'x'};
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof text);
  std::memcpy(GlobalLock(block), text, sizeof text);
  GlobalUnlock(block);
  EXPECT_EQ(copyFromHostBlock(block, 5), "GET");
  EXPECT_EQ(copyFromHostBlock(block, 2), "GE");
  EXPECT_EQ(copyFromHostBlock(block, 0), "");
  EXPECT_EQ(copyFromHostBlock(nullptr, 5), "");
  EXPECT_EQ(GlobalFlags(block) & GMEM_LOCKCOUNT, 0u);  // every lock was undone
  freeHostBlock(block);
  freeHostBlock(nullptr);

  // A length beyond the block reads the block only.
  HGLOBAL bare = GlobalAlloc(GMEM_FIXED, 3);
  std::memcpy(static_cast<void*>(bare), "abc", 3);
  EXPECT_EQ(copyFromHostBlock(bare, 1 << 20), "abc");
  freeHostBlock(bare);

  HostBlock response = allocateHostBlock("SHIORI/2.6 200 OK");
  ASSERT_NE(response, nullptr);
  EXPECT_GE(GlobalSize(response), 18u);
  EXPECT_STREQ(static_cast<const char*>(GlobalLock(response)), "SHIORI/2.6 200 OK");
  GlobalUnlock(response);
  EXPECT_EQ(GlobalFree(response), nullptr);
}

TEST(Clock, TickCountIsTheKernelsAndLocalTimeBreaksDown) {
  std::uint32_t kernel = GetTickCount();
  std::uint32_t ours = tickCountMs();
  EXPECT_LT(static_cast<std::uint32_t>(ours - kernel), 60000u);

  _putenv_s("TZ", "UTC0");
  _tzset();
  auto t = localTime(1796701625);  // 2026-12-08 03:47:05 UTC, a Tuesday
  ASSERT_TRUE(t.has_value());
  EXPECT_EQ(t->tm_year, 126);
  EXPECT_EQ(t->tm_mon, 11);
  EXPECT_EQ(t->tm_mday, 8);
  EXPECT_EQ(t->tm_wday, 2);
  EXPECT_EQ(t->tm_hour, 3);
  EXPECT_EQ(t->tm_min, 47);
  EXPECT_EQ(t->tm_sec, 5);
  EXPECT_EQ(asctimeNow().size(), 24u);
}

}  // namespace
}  // namespace zelka
