#include "script/variable_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

namespace zelka {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class VariableFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zelka-vars-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = (dir_ / "reflex.txt").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  void writeRaw(const std::string& content) {
    std::ofstream out(path_, std::ios::binary);
    out << content;
  }
  std::string readRaw() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string get(const VariableTable& table, std::string_view name) {
    std::string value;
    EXPECT_TRUE(table.getVariable(name, value)) << name;
    return value;
  }

  fs::path dir_;
  std::string path_;
};

struct StoreCase {
  const char* value;
  const char* stored;
};

TEST(VariableTableTest, SetVariableQuotesNamesOnly) {
  const StoreCase cases[] = {
      {"hello", "\"hello\""},     {"5", "5"},           {"-1.5e-3", "-1.5e-3"},
      {"\"q\"", "\"q\""},         {"", ""},             {"\x82\xA0", "\"\x82\xA0\""},
      {"a b", "\"a b\""},         {"12abc", "\"12abc\""},
  };
  for (const StoreCase& c : cases) {
    SCOPED_TRACE(c.value);
    VariableTable table;
    EXPECT_TRUE(table.setVariable("v", c.value));
    std::string value;
    ASSERT_TRUE(table.getVariable("v", value));
    EXPECT_EQ(value, c.stored);
  }
}

TEST(VariableTableTest, NumberedAndUnsignedVariables) {
  VariableTable table;
  table.setVariableByNumber(3, "abc");
  table.setVariableUnsigned("__Think_accept", 4294967295u);
  std::string value;
  ASSERT_TRUE(table.getVariable("3", value));
  EXPECT_EQ(value, "\"abc\"");
  ASSERT_TRUE(table.getVariable("__Think_accept", value));
  EXPECT_EQ(value, "4294967295");
  EXPECT_FALSE(table.getVariable("missing", value));

  // A variable can hold its own value with quotes added.
  table.setVariable("self", "x");
  ASSERT_TRUE(table.getVariable("self", value));
  table.setVariable("self", table.entries().at("self"));
  ASSERT_TRUE(table.getVariable("self", value));
  EXPECT_EQ(value, "\"x\"");
}

TEST_F(VariableFileTest, GetVariableIntegerReadsNumbers) {
  writeRaw("i\x01" "42\nf\x01" "3.9\nn\x01-2.5\nq\x01\"7\"\nhuge\x01" "1e300\n"
           "tiny\x01-1e300\nw\x01 12abc\n");
  VariableTable table;
  ASSERT_TRUE(table.loadVariables(path_));
  EXPECT_EQ(table.getVariableInteger("i"), 42);
  EXPECT_EQ(table.getVariableInteger("f"), 3);
  EXPECT_EQ(table.getVariableInteger("n"), -2);
  EXPECT_EQ(table.getVariableInteger("q"), 0);
  EXPECT_EQ(table.getVariableInteger("huge"), std::numeric_limits<long long>::max());
  EXPECT_EQ(table.getVariableInteger("tiny"), std::numeric_limits<long long>::min());
  EXPECT_EQ(table.getVariableInteger("w"), 12);
  EXPECT_EQ(table.getVariableInteger("missing"), 0);
}

TEST_F(VariableFileTest, RoundTripKeepsValuesWithBlanks) {
  VariableTable saved;
  saved.setVariable("__Sentence", "good morning, how are you");
  saved.setVariable("__Sender", "\x82\xA0\x82\xA2 \x82\xA4");
  saved.setVariableUnsigned("__Think_accept", 1);
  saved.setVariable("hollow", "");
  saved.setVariable("", "nameless");
  saved.setVariable("", "");  // replaced by the empty pair: written as nothing
  saved.setVariable("tab", "a\tb");
  // The byte that ends a text-mode read: the module writes it as it is, so it reads past it.
  saved.setVariable("eof", "a\x1a" "b");
  ASSERT_TRUE(saved.saveVariables(path_));

  VariableTable loaded;
  loaded.setVariable("untouched", "1");
  ASSERT_TRUE(loaded.loadVariables(path_));
  EXPECT_EQ(get(loaded, "__Sentence"), "\"good morning, how are you\"");
  EXPECT_EQ(get(loaded, "__Sender"), "\"\x82\xA0\x82\xA2 \x82\xA4\"");
  EXPECT_EQ(get(loaded, "__Think_accept"), "1");
  EXPECT_EQ(get(loaded, "hollow"), "");
  EXPECT_EQ(get(loaded, "tab"), "\"a\tb\"");
  EXPECT_EQ(get(loaded, "eof"), "\"a\x1a" "b\"");
  EXPECT_EQ(get(loaded, "untouched"), "1");
  EXPECT_FALSE(loaded.entries().count(""));
  // Nothing else: the blanks did not make extra entries.
  EXPECT_EQ(loaded.entries().size(), 7u);

  // The file has one line per entry, in name order.
  EXPECT_EQ(readRaw(),
            "__Sender\x01\"\x82\xA0\x82\xA2 \x82\xA4\"\n"
            "__Sentence\x01\"good morning, how are you\"\n"
            "__Think_accept\x01" "1\n"
            "eof\x01\"a\x1a" "b\"\n"
            "hollow\x01\n"
            "tab\x01\"a\tb\"\n");
}

TEST_F(VariableFileTest, LoadReadsOneEntryPerLine) {
  writeRaw("a\x01" "1\r\n"          // CR before LF is dropped
           "b\x01x\x01y\x01\n"      // later separators vanish from the value
           "no separator here\n"    // skipped
           "\n"                     // skipped
           "\x01" "anonymous\n"     // empty name
           "nu\0l\x01v\0al\n"s       // NUL bytes dropped
           "a\x01" "2\n"            // a later line wins
           "last\x01\"no newline\"");
  VariableTable table;
  table.setVariable("no", "kept");
  ASSERT_TRUE(table.loadVariables(path_));
  EXPECT_EQ(get(table, "a"), "2");
  EXPECT_EQ(get(table, "b"), "xy");
  EXPECT_EQ(get(table, ""), "anonymous");
  EXPECT_EQ(get(table, "nul"), "val");
  EXPECT_EQ(get(table, "last"), "\"no newline\"");
  EXPECT_EQ(get(table, "no"), "\"kept\"");
  EXPECT_EQ(table.entries().size(), 6u);
}

TEST_F(VariableFileTest, MissingFileLeavesTheTable) {
  VariableTable table;
  table.setVariableUnsigned("x", 7);
  EXPECT_FALSE(table.loadVariables(path_));
  EXPECT_EQ(table.getVariableInteger("x"), 7);
  EXPECT_EQ(table.entries().size(), 1u);
}

TEST_F(VariableFileTest, LongEntriesAreCutToOneLine) {
  const std::string longName(3000, 'n');
  const std::string shortLine = "short\x01" "1\n";
  writeRaw("v\x01\"" + std::string(3000, 'x') + "\"\n" + longName + "\x01" "1\n" + shortLine +
           "raw\x01" + std::string(3000, 'y') + "\n");
  VariableTable table;
  ASSERT_TRUE(table.loadVariables(path_));
  const std::string v = get(table, "v");
  EXPECT_EQ(v.size(), 2047u - 2u);  // "v" and the separator share the line
  EXPECT_EQ(v.front(), '"');
  EXPECT_EQ(v.back(), '"');
  EXPECT_EQ(get(table, "raw"), std::string(2047 - 4, 'y'));
  EXPECT_FALSE(table.entries().count(longName));
  EXPECT_EQ(get(table, "short"), "1");

  // Saving cuts the same way, so every written line loads back unchanged.
  VariableTable big;
  big.setVariable("w", "\"" + std::string(5000, 'w') + "\"");
  big.setVariable("line", "one\ntwo\r\nthree");
  big.setVariable(longName, "lost");
  ASSERT_TRUE(big.saveVariables(path_));
  const std::string raw = readRaw();
  EXPECT_EQ(raw.find(longName), std::string::npos);
  VariableTable reloaded;
  ASSERT_TRUE(reloaded.loadVariables(path_));
  EXPECT_EQ(reloaded.entries().size(), 2u);
  EXPECT_EQ(get(reloaded, "w").size(), 2047u - 2u);
  EXPECT_EQ(get(reloaded, "line"), "\"one two  three\"");
}

TEST_F(VariableFileTest, LoadRemovesWhatAnInterruptedSaveLeft) {
  // A process killed while saving leaves its temporary file beside the variable file; the
  // next load clears it away, also when the first save never completed.
  const std::string leftover = path_ + ".zelka-tmp.4242.7";
  std::ofstream(leftover, std::ios::binary) << "half";
  std::ofstream(dir_ / "other.txt.zelka-tmp.1.1", std::ios::binary) << "not ours";
  VariableTable table;
  EXPECT_FALSE(table.loadVariables(path_));
  EXPECT_FALSE(fs::exists(leftover));
  EXPECT_TRUE(fs::exists(dir_ / "other.txt.zelka-tmp.1.1"));

  writeRaw("a\x01" "1\n");
  std::ofstream(leftover, std::ios::binary) << "half";
  ASSERT_TRUE(table.loadVariables(path_));
  EXPECT_FALSE(fs::exists(leftover));
  EXPECT_EQ(table.getVariableInteger("a"), 1);
}

TEST_F(VariableFileTest, SaveReplacesTheFileWhole) {
  writeRaw(std::string(10000, 'z') + "\n");
  VariableTable table;
  table.setVariableUnsigned("k", 1);
  ASSERT_TRUE(table.saveVariables(path_));
  EXPECT_EQ(readRaw(), "k\x01" "1\n");
  // Only the file itself is left in the directory.
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);

  EXPECT_FALSE(table.saveVariables((dir_ / "no-such-dir" / "reflex.txt").string()));
}

}  // namespace
}  // namespace zelka
