#include "util/changed_files.h"

#include <gtest/gtest.h>
#include <utime.h>

#include "platform/file_system.h"
#include "support/temp_dir.h"

namespace zelka {
namespace {

void setTime(const std::string& path, time_t seconds) {
  utimbuf times{seconds, seconds};
  ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

TEST(ChangedFiles, ListsNewAndChangedFilesOnly) {
  testing::TempDir dir;
  std::string base = dir.directory();
  setTime(dir.write("a.mem", "1"), 1000);
  setTime(dir.write("b.MEM", "2"), 1000);
  dir.write("c.txt", "3");
  ASSERT_TRUE(makeDirectory(dir.file("d.mem")));

  FileTimeMap times;
  std::vector<std::string> changed;
  EXPECT_TRUE(scanChangedFiles(base, "mem", times, changed));
  EXPECT_EQ(changed, (std::vector<std::string>{base + "a.mem", base + "b.MEM"}));

  changed.clear();
  EXPECT_TRUE(scanChangedFiles(base, "mem", times, changed));
  EXPECT_TRUE(changed.empty());

  setTime(dir.file("b.MEM"), 2000);
  EXPECT_TRUE(scanChangedFiles(base, "mem", times, changed));
  EXPECT_EQ(changed, (std::vector<std::string>{base + "b.MEM"}));
  EXPECT_EQ(times[base + "b.MEM"], 2000);

  changed.clear();
  FileTimeMap fresh;
  EXPECT_TRUE(scanChangedFiles(base, "", fresh, changed));
  EXPECT_EQ(changed.size(), 3u);  // every file, no directory
}

TEST(ChangedFiles, NothingFoundIsFalse) {
  testing::TempDir dir;
  std::string base = dir.directory();
  FileTimeMap times;
  std::vector<std::string> changed;
  EXPECT_FALSE(scanChangedFiles(base, "tlk", times, changed));
  EXPECT_FALSE(scanChangedFiles(base + "missing/", "tlk", times, changed));
  EXPECT_FALSE(scanChangedFiles(base + "missing/", "", times, changed));
  EXPECT_TRUE(changed.empty());
  ASSERT_TRUE(makeDirectory(dir.file("only.tlk")));
  EXPECT_TRUE(scanChangedFiles(base, "tlk", times, changed));  // found, but not a file
  EXPECT_TRUE(changed.empty());
}

}  // namespace
}  // namespace zelka
